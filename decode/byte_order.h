// Internal: the byte orders of the fields decode/ reads and writes in place:
// big-endian in boxes and marker segments, little-endian in bitmap headers.
// The caller has checked that the bytes exist.
#ifndef DECODE_BYTE_ORDER_H
#define DECODE_BYTE_ORDER_H

#include <stdint.h>

inline uint32_t ReadBig16(const uint8_t* at)
{
    return (uint32_t)at[0] << 8 | at[1];
}

inline uint32_t ReadBig32(const uint8_t* at)
{
    return ReadBig16(at) << 16 | ReadBig16(at + 2);
}

inline uint64_t ReadBig64(const uint8_t* at)
{
    return (uint64_t)ReadBig32(at) << 32 | ReadBig32(at + 4);
}

inline void WriteBig32(uint8_t* at, uint32_t value)
{
    at[0] = (uint8_t)(value >> 24);
    at[1] = (uint8_t)(value >> 16);
    at[2] = (uint8_t)(value >> 8);
    at[3] = (uint8_t)value;
}

inline uint32_t ReadLittle16(const uint8_t* at)
{
    return (uint32_t)at[0] | (uint32_t)at[1] << 8;
}

inline uint32_t ReadLittle32(const uint8_t* at)
{
    return ReadLittle16(at) | ReadLittle16(at + 2) << 16;
}

inline void WriteLittle16(uint8_t* at, uint32_t value)
{
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)(value >> 8);
}

inline void WriteLittle32(uint8_t* at, uint32_t value)
{
    WriteLittle16(at, value & 0xFFFFu);
    WriteLittle16(at + 2, value >> 16);
}

#endif
