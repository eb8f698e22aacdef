// Head unit protocol texts (see HeadProtocol.h).
#include "HeadProtocol.h"

#include <serial/ReplyText.h>

#include <string>

namespace quorvex {

const wchar_t* DeviceErrorMessage(int code) {
    switch (code) {
    case -1: return L"Parameter 1 Error";
    case -2: return L"Parameter 2 Error";
    case -3: return L"Parameter 3 Error";
    case -4: return L"Parameter 4 Error";
    case -5: return L"Parameter Error";
    case -6: return L"Syntax Error";
    case -7: return L"Primary Set Configuration Parameter Error";
    case -8: return L"Secondary Set Configuraiton Parameter Error";
    case -9: return L"Primary Homing Error";
    case -10: return L"Secondary Homing Error";
    case -11: return L"I2C Timeout";
    case -12: return L"ASCII to float conversion error";
    case -13: return L"Primary Moving Error";
    case -14: return L"Secondary Moving Error";
    default: return L"Unknown Error Code";
    }
}

void ParseIdentification(std::string_view reply, QuorvexIdentificationStruct& identification) {
    identification.response = std::string(reply);
    replytext::SplitFields(reply, ',',
                           {&identification.manufacturer, &identification.model, &identification.firmware,
                            &identification.serialNumber});
}

}  // namespace quorvex
