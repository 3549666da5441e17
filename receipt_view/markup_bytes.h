// The bytes a printer receives for a receipt in the mark-up, made by the
// add-on's own encoder, so a picture shows what the add-on sends.
#pragma once

#include <string>
#include <string_view>

#include "receipt_markup.h"

namespace receipt_view {

// `utf8Receipt` as a script passes it: converted to the ANSI code page of the
// locale (as the add-on does), then every paragraph the route prints, one
// after another (each device cycle or each spooler document in turn).
std::string markupBytes(std::string_view utf8Receipt, Route route);

}  // namespace receipt_view
