// HTML <embed> and <object> extraction, URL-to-path resolution and file reading for the test browser.
#include "page.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = (char)tolower((unsigned char)c);
    }
    return text;
}

void SkipSpaces(const std::string& text, size_t* at) {
    while (*at < text.size() && isspace((unsigned char)text[*at])) {
        ++*at;
    }
}

// Reads name[=value] at *at; 0 at the end of the tag.
int ReadAttribute(const std::string& tag, size_t* at, std::pair<std::string, std::string>* attribute) {
    SkipSpaces(tag, at);
    size_t start = *at;
    while (*at < tag.size() && !isspace((unsigned char)tag[*at]) && tag[*at] != '=' && tag[*at] != '/') {
        ++*at;
    }
    if (*at == start) {
        if (*at < tag.size() && tag[*at] == '/') {
            ++*at;
            return *at < tag.size();
        }
        return 0;
    }
    attribute->first = tag.substr(start, *at - start);
    attribute->second.clear();
    SkipSpaces(tag, at);
    if (*at >= tag.size() || tag[*at] != '=') {
        return 1;
    }
    ++*at;
    SkipSpaces(tag, at);
    if (*at < tag.size() && (tag[*at] == '"' || tag[*at] == '\'')) {
        char quote = tag[(*at)++];
        size_t end = tag.find(quote, *at);
        if (end == std::string::npos) {
            end = tag.size();
        }
        attribute->second = tag.substr(*at, end - *at);
        *at = end < tag.size() ? end + 1 : end;
        return 1;
    }
    start = *at;
    while (*at < tag.size() && !isspace((unsigned char)tag[*at])) {
        ++*at;
    }
    attribute->second = tag.substr(start, *at - start);
    return 1;
}

AttributeList ReadAttributes(const std::string& tag) {
    AttributeList attributes;
    size_t position = 0;
    std::pair<std::string, std::string> attribute;
    while (ReadAttribute(tag, &position, &attribute)) {
        if (!attribute.first.empty()) {
            attributes.push_back(attribute);
        }
    }
    return attributes;
}

int ReadSize(const std::string& value, int fallback) {
    int size = atoi(value.c_str());
    return size > 0 && size < 10000 ? size : fallback;
}

}  // namespace

std::vector<EmbedElement> ParseEmbedElements(const std::string& html) {
    std::vector<EmbedElement> elements;
    std::string lower = Lower(html);
    size_t at = 0;
    while ((at = lower.find('<', at)) != std::string::npos) {
        int isObject = lower.compare(at, 7, "<object") == 0;
        size_t nameLength = isObject ? 7 : 6;
        if (!isObject && lower.compare(at, 6, "<embed") != 0) {
            ++at;
            continue;
        }
        size_t end = lower.find('>', at);
        if (end == std::string::npos) {
            break;
        }
        std::string tag = html.substr(at + nameLength, end - at - nameLength);
        at = end + 1;
        if (!tag.empty() && !isspace((unsigned char)tag[0]) && tag[0] != '/') {
            continue;  // <embedded> or similar
        }
        EmbedElement element = {ReadAttributes(tag), "", 150, 150, isObject, AttributeList()};
        for (const auto& attribute : element.attributes) {
            std::string name = Lower(attribute.first);
            if (name == (isObject ? "data" : "src")) {
                element.src = attribute.second;
            } else if (name == "width") {
                element.width = ReadSize(attribute.second, 150);
            } else if (name == "height") {
                element.height = ReadSize(attribute.second, 150);
            }
        }
        size_t close = isObject ? lower.find("</object", at) : at;
        for (size_t param = lower.find("<param", at); param < close; param = lower.find("<param", param + 6)) {
            size_t paramEnd = lower.find('>', param);
            std::string name, value;
            for (const auto& attribute : ReadAttributes(html.substr(param + 6, paramEnd - param - 6))) {
                std::string key = Lower(attribute.first);
                if (key == "name") name = attribute.second;
                if (key == "value") value = attribute.second;
            }
            element.params.push_back({name, value});
        }
        elements.push_back(element);
    }
    return elements;
}

int IsHtmlPath(const std::string& path) {
    std::string lower = Lower(path);
    size_t dot = lower.rfind('.');
    return dot != std::string::npos && (lower.substr(dot) == ".html" || lower.substr(dot) == ".htm");
}

std::string ResolveLocalPath(const std::string& url, const std::string& basePath) {
    std::string lower = Lower(url);
    std::string path = url;
    if (lower.compare(0, 5, "file:") == 0) {
        path = url.substr(5);
        if (path.compare(0, 2, "//") == 0) {
            path = path.substr(2);  // file:///C:/x or file:///unix/path
            if (path.size() >= 3 && path[0] == '/' && path[2] == ':') {
                path = path.substr(1);
            }
        }
    } else {
        size_t colon = url.find(':');
        size_t slash = url.find_first_of("/\\");
        if (colon != std::string::npos && colon > 1 && (slash == std::string::npos || colon < slash)) {
            return "";  // another scheme: only recorded
        }
    }
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    int absolute = (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
    if (absolute || basePath.empty()) {
        return path;
    }
    size_t folderEnd = basePath.find_last_of("\\/");
    return folderEnd == std::string::npos ? path : basePath.substr(0, folderEnd + 1) + path;
}

int ReadWholeFile(const std::string& path, std::string* bytes) {
    bytes->clear();
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        return 0;
    }
    char chunk[65536];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes->append(chunk, count);
    }
    fclose(file);
    return 1;
}
