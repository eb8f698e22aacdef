// Text for the terminal's character set, JSON and failure reports.
#include "Output.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

#include <QJsonDocument>
#include <QString>

namespace quorvexctl {

namespace {

bool g_utf8 = true;  // set once by SetUpCodeset before any output

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

void SetUpCodeset() {
    // Only the character type: numbers are still read and written with '.'.
    std::setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    g_utf8 = codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

std::string ForTerminal(const std::string& utf8) {
    if (g_utf8) return utf8;
    std::string text = utf8;
    ReplaceAll(text, "\u2014", "-");
    ReplaceAll(text, "\u00B0C", "degC");
    ReplaceAll(text, "\u00B0", "deg");
    return text;
}

void PrintJson(std::FILE* out, const QJsonObject& object) {
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Indented).constData(), out);
}

void ReportFailure(std::FILE* out, std::FILE* err, bool json, int code, const std::string& message,
                   const char* hint) {
    std::fprintf(err, "quorvexctl: %s%s\n", ForTerminal(message).c_str(), hint);
    if (json)
        PrintJson(out, QJsonObject{{"error", QJsonObject{{"code", code}, {"message", QString::fromStdString(message)}}}});
}

}  // namespace quorvexctl
