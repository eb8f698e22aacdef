// The quoted strings of the supply's SCPI protocol (its numbers are
// written and read with serial/ReplyText.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace psudll {

// The text as a SCPI string parameter: in double quotes, each quote inside
// written twice. Empty when the text holds a control character (CR and LF
// among them), which would end the command early or start another one.
std::optional<std::string> QuoteScpiString(std::string_view text);

}  // namespace psudll
