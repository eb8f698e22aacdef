// Texts of the head unit's protocol that do not depend on a connection: the
// messages of its error codes and the fields of its identification reply.
#pragma once

#include "QuorvexDll.h"

#include <string_view>

namespace quorvex {

// The message of an acknowledgement code other than 1.
const wchar_t* DeviceErrorMessage(int code);

// Fills the record from an "I?" reply: the whole reply into `response`, then
// manufacturer, model, firmware and serial number (the rest after the third
// comma), stopping at the first missing comma; fields after it keep their
// values.
void ParseIdentification(std::string_view reply, QuorvexIdentificationStruct& identification);

}  // namespace quorvex
