#pragma once

#include <any>
#include <unordered_map>

namespace tervolo::json {

// Text encodings a printed value can be turned into.
enum class StringEncoding { utf8, ascii };

// Keys of the options map of `JSON::rawString(options)`. Expected values:
// jsonSerialization -> WritingOptions (default pretty-printed), castNilToNSNull
// -> bool (default false: containers go through the serialiser), maxObjextDepth
// -> int (default 10), encoding -> StringEncoding (default UTF-8). A value of
// another type counts as missing. `maxObjextDepth` is spelled so on purpose.
enum class writingOptionsKeys { jsonSerialization, castNilToNSNull, maxObjextDepth, encoding };

using WritingOptionsMap = std::unordered_map<writingOptionsKeys, std::any>;

}  // namespace tervolo::json
