#include "common/guid.h"

#include <cstdio>

#include "platform/system_info.h"

namespace common {

bool makeGuidString(std::wstring* out) {
    if (out == nullptr) return false;
    const auto g = platform::createGuid();
    if (!g) return false;
    char text[64];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(g->data1), static_cast<unsigned>(g->data2), static_cast<unsigned>(g->data3),
                  g->data4[0], g->data4[1], g->data4[2], g->data4[3], g->data4[4], g->data4[5], g->data4[6],
                  g->data4[7]);
    out->assign(text, text + 36);
    return true;
}

}  // namespace common
