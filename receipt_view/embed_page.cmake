# Writes OUTPUT, a C++ source that holds the bytes of INPUT as kDesignerPage,
# so the program serves its page from wherever it is installed.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
# 32 bytes a line.
string(REGEX REPLACE "(................................................................................................................................)" "\\1\"\n    \"" escaped "${escaped}")
file(WRITE "${OUTPUT}.new" "// Generated from ${INPUT}; edit that file.\n#include <cstddef>\n\nextern const char kDesignerPage[];\nextern const std::size_t kDesignerPageSize;\n\nconst char kDesignerPage[] =\n    \"${escaped}\";\nconst std::size_t kDesignerPageSize = sizeof kDesignerPage - 1;\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
