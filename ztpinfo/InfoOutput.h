#pragma once
// The two forms of ztpinfo's output: text for people, one JSON document
// (a list of files) for scripts.

#include <ostream>

#include "InfoReport.h"
#include "JsonWriter.h"

namespace ztpinfo {

// The world box of a layout's fine tiles: from the low corner of the lowest
// tile to the high corner of the highest.
std::pair<zt::vec3f, zt::vec3f> worldBox(const LayoutReport& layout);

void printText(std::ostream& out, const FileReport& file, const InfoOptions& options);

// One element of the run's JSON list.
void writeJson(JsonWriter& json, const FileReport& file, const InfoOptions& options);

}  // namespace ztpinfo
