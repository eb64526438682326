// UTF-16 text, the one string type of every program and host service.
#pragma once
#include <string>
#include <string_view>

using WChar = char16_t;
using WString = std::u16string;
using WStringView = std::u16string_view;
