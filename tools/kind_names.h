// The names the tools print for each kind of file ClassifyFileKind tells apart.
#ifndef TOOLS_KIND_NAMES_H
#define TOOLS_KIND_NAMES_H

#include "jpeg2000.h"

struct KindName {
    int kind;
    const char* name;
};

const KindName kKindNames[] = {
    {FileKindCodestream, "JPEG 2000 codestream"},
    {FileKindJp2, "JP2"},
    {FileKindJpx, "JPX"},
    {FileKindMj2, "Motion JPEG 2000"},
    {FileKindJpm, "JPM"},
    {FileKindJ3d, "JP3D"},
    {FileKindJph, "JPH"},
};

inline const char* NameFileKind(int kind)
{
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) {
            return entry.name;
        }
    }
    return "not recognised";
}

#endif
