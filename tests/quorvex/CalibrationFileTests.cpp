// The calibration file readers and writers on their own: formats, comments,
// line ends and the error entries the upload logs.
#include "ApertureDataFile.h"
#include "SpectralDataFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

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

TEST_F(CalibrationFileTest, SpectralLinesAllowCommentsAndSpaceAfterTheComma) {
    CSpectralDataFile file(File("s.txt", "400.0,1.5E-5 ;lamp A\n410.0, 2E-5\r\n420,3E-5"));
    Errors errors{"stale"};
    ASSERT_TRUE(file.Read(&errors));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(file.Data(), (QuorvexSpectralTable{{400.0, 1.5E-5}, {410.0, 2E-5}, {420.0, 3E-5}}));
}

TEST_F(CalibrationFileTest, BadSpectralLinesAreListedAndTheRestIsRead) {
    CSpectralDataFile file(File("s.txt", "400.0 ,1.5E-5\n; comment only\n\n410,2E-5\n"));
    Errors errors;
    EXPECT_FALSE(file.Read(&errors));
    EXPECT_EQ(errors, (Errors{"Error 2 values from line \"400.0 ,1.5E-5\"", "Error 2 values from line \"\"",
                              "Error 2 values from line \"\""}));
    EXPECT_EQ(file.Data(), (QuorvexSpectralTable{{410.0, 2E-5}}));
}

TEST_F(CalibrationFileTest, ApertureFileWithHeaderReadsAsAGrid) {
    std::string text = "12,3 ; rows, columns\n";
    for (int r = 0; r < 12; ++r) text += "100.0,50.0,25.0\n";
    CApertureDataFile file(File("a.txt", text));
    Errors errors;
    ASSERT_TRUE(file.Read(&errors));
    ASSERT_EQ(file.Data().size(), 12u);
    EXPECT_EQ(file.Data()[11], (std::vector<double>{100.0, 50.0, 25.0}));

    CApertureDataFile wide(File("b.txt", "12,4\n1,2,3\n\n4,5,6"));
    EXPECT_FALSE(wide.Read(&errors));
    EXPECT_EQ(errors, (Errors{"Error converting line into 3 doubles \"\"",
                              "Incorrect number of cols read. Expected 4, read 3"}));
    EXPECT_EQ(wide.Data(), (QuorvexApertureTable{{1, 2, 3}, {0, 0, 0}, {4, 5, 6}}));
}

TEST_F(CalibrationFileTest, ApertureHeaderProblems) {
    Errors errors;
    CApertureDataFile file(File("a.txt", "1,2,3\n1,2,3\n"));
    EXPECT_FALSE(file.Read(&errors));  // "1,2" parses: then the column count is wrong
    CApertureDataFile bad(File("b.txt", "twelve,3\n1,2,3\n"));
    bad.Data() = {{9, 9, 9}};
    EXPECT_FALSE(bad.Read(&errors));
    EXPECT_EQ(errors, Errors{"Error converting line 1 into 2 doubles \"twelve,3\""});
    EXPECT_EQ(bad.Data(), (QuorvexApertureTable{{9, 9, 9}})) << "a bad header leaves the table";
    CApertureDataFile headerOnly(File("c.txt", "12,3\n"));
    EXPECT_FALSE(headerOnly.Read(&errors));
    EXPECT_EQ(errors, Errors{"Incorrect number of cols read. Expected 3, read 0"});
}

TEST_F(CalibrationFileTest, OpenFailures) {
    Errors errors{"stale"};
    CSpectralDataFile missing(Path("none.txt"));
    EXPECT_FALSE(missing.Read(&errors));
    EXPECT_TRUE(errors.empty());
    CApertureDataFile missingAperture(Path("none.txt"));
    EXPECT_FALSE(missingAperture.Read(&errors));
    EXPECT_EQ(errors, Errors{"File not found \"" + m_xdg.Root().string() + "/none.txt\""});
    // A folder cannot be read as a file: refused, with an entry.
    const std::string folder = m_xdg.Root().string();
    CSpectralDataFile spectralFolder(m_xdg.Root().wstring());
    EXPECT_FALSE(spectralFolder.Read(&errors));
    EXPECT_EQ(errors, Errors{"Error opening file with filename \"" + folder + "\""});
    CApertureDataFile apertureFolder(m_xdg.Root().wstring());
    EXPECT_FALSE(apertureFolder.Read(&errors));
    EXPECT_EQ(errors, Errors{"Error opening file with filename \"" + folder + "\""});
}

TEST_F(CalibrationFileTest, WritesReadBackAndNeverOverwrite) {
    const QuorvexSpectralTable table{{400.0, 1.234E-05}, {1150.0, 9.5E-7}};
    CSpectralDataFile out(Path("s.txt"), table);
    Errors errors;
    ASSERT_TRUE(out.Write(&errors));
    EXPECT_EQ(testsupport::ReadFile(m_xdg.Root() / "s.txt"), "400.00,1.234E-05\n1150.00,9.500E-07");
    CSpectralDataFile in(Path("s.txt"));
    ASSERT_TRUE(in.Read(&errors));
    EXPECT_EQ(in.Data(), table);

    CSpectralDataFile again(Path("s.txt"), {{1, 1}});
    EXPECT_FALSE(again.Write(&errors));
    EXPECT_EQ(errors, Errors{"File already exists"});
    EXPECT_EQ(testsupport::ReadFile(m_xdg.Root() / "s.txt"), "400.00,1.234E-05\n1150.00,9.500E-07");
    CApertureDataFile aperture(Path("s.txt"), {{1, 2, 3}});
    EXPECT_FALSE(aperture.Write(&errors));
    EXPECT_EQ(errors, Errors{"File already exists"});
}

}  // namespace
