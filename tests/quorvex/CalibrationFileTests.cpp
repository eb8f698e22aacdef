// The calibration file readers and writers on their own: formats, comments,
// line ends and the error entries the upload logs.
#include "ApertureDataFile.h"
#include "SpectralDataFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {

using Errors = std::vector<std::string>;

class CalibrationFileTest : public ::testing::Test {
protected:
    std::wstring File(const std::string& name, const std::string& content) {
        const auto path = m_xdg.Root() / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.wstring();
    }
    std::wstring Path(const std::string& name) const { return (m_xdg.Root() / name).wstring(); }
    testsupport::CTempXdg m_xdg;
};

TEST_F(CalibrationFileTest, SpectralLinesAllowCommentsAndSpaceAfterTheCommaOnly) {
    CSpectralDataFile file(File("s.txt", "400.0,1.5E-5 ;lamp A\n410.0, 2E-5\r\n420,3E-5"));
    Errors errors{"stale"};
    ASSERT_TRUE(file.Read(&errors));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(file.Data(), (QuorvexSpectralTable{{400.0, 1.5E-5}, {410.0, 2E-5}, {420.0, 3E-5}}));
    // Bad lines are listed and the rest is read.
    CSpectralDataFile bad(File("b.txt", "400.0 ,1.5E-5\n; comment only\n\n410,2E-5\n"));
    EXPECT_FALSE(bad.Read(&errors));
    EXPECT_EQ(errors, (Errors{"Error 2 values from line \"400.0 ,1.5E-5\"", "Error 2 values from line \"\"",
                              "Error 2 values from line \"\""}));
    EXPECT_EQ(bad.Data(), (QuorvexSpectralTable{{410.0, 2E-5}}));
}

// Found by fuzzing: a number too small for a double read as infinity.
TEST_F(CalibrationFileTest, NumbersTooSmallForADoubleReadAsZeroNotInfinity) {
    CSpectralDataFile file(File("u.txt", "1e-400,-1e-999\n1e400,-1e400\n4.9e-324,2.5e-320"));
    ASSERT_TRUE(file.Read(nullptr));
    const double inf = HUGE_VAL;
    EXPECT_EQ(file.Data(), (QuorvexSpectralTable{{0.0, -0.0}, {inf, -inf}, {4.9e-324, 2.5e-320}}));
    EXPECT_TRUE(std::signbit(file.Data()[0].second));
}

TEST_F(CalibrationFileTest, ApertureFileReadsAsTheGridItsHeaderNames) {
    std::string text = "12,3 ; rows, columns\n";
    for (int r = 0; r < 12; ++r) text += "100.0,50.0,25.0\n";
    CApertureDataFile file(File("a.txt", text));
    Errors errors;
    ASSERT_TRUE(file.Read(&errors));
    ASSERT_EQ(file.Data().size(), 12u);
    EXPECT_EQ(file.Data()[11], (std::vector<double>{100.0, 50.0, 25.0}));

    // Rows short of the header's columns are listed; blank lines hold a place.
    CApertureDataFile wide(File("b.txt", "12,4\n1,2,3\n\n4,5,6"));
    EXPECT_FALSE(wide.Read(&errors));
    EXPECT_EQ(errors, (Errors{"Error converting line into 3 doubles \"\"",
                              "Incorrect number of cols read. Expected 4, read 3"}));
    EXPECT_EQ(wide.Data(), (QuorvexApertureTable{{1, 2, 3}, {0, 0, 0}, {4, 5, 6}}));
    // "1,2" parses as a header: then the column count is wrong.
    EXPECT_FALSE(CApertureDataFile(File("c.txt", "1,2,3\n1,2,3\n")).Read(&errors));
    CApertureDataFile badHeader(File("d.txt", "twelve,3\n1,2,3\n"));
    badHeader.Data() = {{9, 9, 9}};
    EXPECT_FALSE(badHeader.Read(&errors));
    EXPECT_EQ(errors, Errors{"Error converting line 1 into 2 doubles \"twelve,3\""});
    EXPECT_EQ(badHeader.Data(), (QuorvexApertureTable{{9, 9, 9}})) << "a bad header leaves the table";
    EXPECT_FALSE(CApertureDataFile(File("e.txt", "12,3\n")).Read(&errors));
    EXPECT_EQ(errors, Errors{"No entries in file \"" + m_xdg.Root().string() + "/e.txt\""});
}

TEST_F(CalibrationFileTest, OpenFailures) {
    Errors errors{"stale"};
    const Errors missing{"File not found \"" + m_xdg.Root().string() + "/none.txt\""};
    EXPECT_FALSE(CSpectralDataFile(Path("none.txt")).Read(&errors));
    EXPECT_EQ(errors, missing);
    EXPECT_FALSE(CApertureDataFile(Path("none.txt")).Read(&errors));
    EXPECT_EQ(errors, missing);
    // A folder cannot be read as a file: refused, with an entry.
    const Errors folder{"Error opening file with filename \"" + m_xdg.Root().string() + "\""};
    EXPECT_FALSE(CSpectralDataFile(m_xdg.Root().wstring()).Read(&errors));
    EXPECT_EQ(errors, folder);
    EXPECT_FALSE(CApertureDataFile(m_xdg.Root().wstring()).Read(&errors));
    EXPECT_EQ(errors, folder);
}

}  // namespace
