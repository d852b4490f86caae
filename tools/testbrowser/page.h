// Pages the test browser shows: a JPEG 2000 file as a full page, or an HTML
// page whose <embed> elements become embedded plug-in instances.
#ifndef TESTBROWSER_PAGE_H
#define TESTBROWSER_PAGE_H

#include <string>
#include <utility>
#include <vector>

typedef std::vector<std::pair<std::string, std::string>> AttributeList;

// One <embed> or <object>: every attribute in document order, plus the
// three the layout uses (an object's src is its data attribute), and an
// object's <param> name/value pairs.
struct EmbedElement {
    AttributeList attributes;
    std::string src;
    int width;
    int height;
    int isObject;
    AttributeList params;
};

// The <embed> and <object> elements of an HTML text, in document order.
// Attribute names keep their letter case; values may be quoted with " or '
// or bare; a name without a value gets "". Width and height default to
// 150 x 150.
std::vector<EmbedElement> ParseEmbedElements(const std::string& html);

// Whether a path names an HTML page (by extension .htm/.html, any case).
int IsHtmlPath(const std::string& path);

// file: URLs and plain paths become Windows paths, resolved against the
// folder of basePath; "" for URLs of other schemes (http:, ftp:, ...).
std::string ResolveLocalPath(const std::string& url, const std::string& basePath);

// The whole file into *bytes; 0 when it cannot be read.
int ReadWholeFile(const std::string& path, std::string* bytes);

#endif
