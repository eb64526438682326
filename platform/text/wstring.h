// UTF-16 text, the one string type of every program and host service.
//
// Folder platform/text, library vr_text: the lowest host layer (strings, conversions, case
// folding, formatting, byte-order marks); it uses nothing of the tree, and every library uses it.
#pragma once
#include <string>
#include <string_view>

using WChar = char16_t;
using WString = std::u16string;
using WStringView = std::u16string_view;
