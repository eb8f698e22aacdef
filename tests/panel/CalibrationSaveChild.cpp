// calibration_save_child FILE: saves calibration A and calibration B to the
// ini file FILE alternately, for ever, writing one byte ('A' or 'B') to
// standard output after each completed save. The crash-safety test kills it
// with SIGKILL at random moments; it also ends when the test stops reading
// (a write to the closed pipe) or a save fails (exit code 2).
#include <unistd.h>

#include <cstdio>

#include "CalibrationTestTables.h"
#include "SettingsStorageIniFile.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: calibration_save_child FILE\n");
        return 1;
    }
    const std::wstring file = platform::FromUtf8(argv[1]);
    CCalibrationData tables[2] = {calibrationtables::TableA(), calibrationtables::TableB()};
    for (unsigned round = 0;; ++round) {
        CSettingsStorageIniFile storage(file, L"CalibrationData");
        if (!tables[round % 2].Save(storage)) return 2;
        const char done = round % 2 ? 'B' : 'A';
        if (write(STDOUT_FILENO, &done, 1) != 1) return 0;
    }
}
