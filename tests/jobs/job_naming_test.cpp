#include <gtest/gtest.h>

#include <set>

#include "sinks/job_naming.h"

namespace tolvane {
namespace {

const PathStyle kWin = PathStyle::windows();

FileExists existing(std::set<std::string> files) {
    return [files = std::move(files)](const std::string& path) { return files.count(path) > 0; };
}

TEST(JobNaming, CutsOnlyTheLastComponentsExtension) {
    EXPECT_EQ(withoutExtension("FEATURE_1.EVO", kWin), "FEATURE_1");
    EXPECT_EQ(withoutExtension("A.B.EVO", kWin), "A.B");
    EXPECT_EQ(withoutExtension("NODOT", kWin), "NODOT");
    EXPECT_EQ(withoutExtension("C:\\A.B\\NODOT", kWin), "C:\\A.B\\NODOT");
    EXPECT_EQ(withoutExtension("/a.b/name"), "/a.b/name");
    EXPECT_EQ(extensionOf("C:\\X\\F.evo", kWin), ".evo");
}

TEST(JobNaming, FindsTheSecondFeatureFileOnlyWhenItExists) {
    const FileExists files = existing({"C:\\F\\FEATURE_2.EVO", "C:\\F\\VTS_01_2.VOB",
                                       "C:\\F\\FEATURE_20.EVO", "C:\\F\\X1_A.EVO"});
    EXPECT_EQ(secondFeatureFile("C:\\F\\FEATURE_1.EVO", kWin, files), "C:\\F\\FEATURE_2.EVO");
    EXPECT_EQ(secondFeatureFile("C:\\F\\VTS_01_1.VOB", kWin, files), "C:\\F\\VTS_01_2.VOB");
    EXPECT_EQ(secondFeatureFile("C:\\F\\FEATURE_10.EVO", kWin, files), "C:\\F\\FEATURE_20.EVO");
    // The file's own number is the last "_1": title set 10 goes on in its own second file,
    // never in title set 20.
    const FileExists titleSets = existing({"C:\\V\\VTS_10_2.VOB", "C:\\V\\VTS_20_1.VOB"});
    EXPECT_EQ(secondFeatureFile("C:\\V\\VTS_10_1.VOB", kWin, titleSets), "C:\\V\\VTS_10_2.VOB");
    EXPECT_EQ(secondFeatureFile("C:\\V\\VTS_10_1.VOB", kWin, existing({"C:\\V\\VTS_20_1.VOB"})),
              "");
    // Nor is the extension ever changed.
    EXPECT_EQ(secondFeatureFile("C:\\V\\A.X_1", kWin, [](const std::string&) { return true; }), "");
    EXPECT_EQ(secondFeatureFile("C:\\F\\X0_A.EVO", kWin, files), "C:\\F\\X1_A.EVO");
    // "_1" decides even when the "0_" rule would find a file.
    EXPECT_EQ(secondFeatureFile("C:\\F\\X0_A_1.EVO", kWin, existing({"C:\\F\\X1_A_1.EVO"})), "");
    EXPECT_EQ(secondFeatureFile("C:\\F\\MAIN.EVO", kWin, [](const std::string&) { return true; }),
              "");
    // Only the file name is looked at, not the folders.
    EXPECT_EQ(secondFeatureFile("C:\\F_1\\MAIN.EVO", kWin, [](const std::string&) { return true; }),
              "");
}

TEST(JobNaming, FormsBaseNamesAndOutputPrefixes) {
    const FileExists files = existing({"C:\\F\\FEATURE_2.EVO"});
    JobNames names = formJobNames("FEATURE_1.EVO", "C:\\F\\FEATURE_1.EVO", true, kWin, files);
    EXPECT_EQ(names.baseName, "FEATURE_1_FEATURE_2");
    EXPECT_EQ(names.secondPath, "C:\\F\\FEATURE_2.EVO");
    EXPECT_TRUE(names.second);
    names = formJobNames("FEATURE_1.EVO", "C:\\F\\FEATURE_1.EVO", false, kWin, files);
    EXPECT_EQ(names.baseName, "FEATURE_1");
    EXPECT_FALSE(names.second);
    names = formJobNames("FEATURE_1.EVO", "C:\\G\\FEATURE_1.EVO", true, kWin, files);
    EXPECT_EQ(names.baseName, "FEATURE_1");
    EXPECT_FALSE(names.second);

    EXPECT_EQ(outputPrefix("D:\\out", "F", kWin), "D:\\out\\F");
    EXPECT_EQ(outputPrefix("D:\\out\\", "F", kWin), "D:\\out\\F");
    EXPECT_EQ(outputPrefix("", "F", kWin), "F");
    EXPECT_EQ(outputPrefix("/tmp/out", "F", PathStyle::native()), "/tmp/out/F");
}

TEST(JobNaming, MakesPlaylistTextSafeInsideAFileName) {
    EXPECT_EQ(safeFileNamePart("DD+.6ch.s01.French/Commentary"), "DD+.6ch.s01.French_Commentary");
    EXPECT_EQ(safeFileNamePart("a\\b:c*d?e\"f<g>h|i\tj"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(safeFileNamePart("Ext.Subpicture.31"), "Ext.Subpicture.31");
    EXPECT_EQ(safeFileNamePart("Fran\xC3\xA7"
                               "ais"),
              "Fran\xC3\xA7"
              "ais")
        << "UTF-8 stays";
}

TEST(JobNaming, ReportsTheSizeInWholeMebibytesOrSmallerUnitsForSmallFiles) {
    EXPECT_EQ(sizeReport(1048575), "File size: 1023 KiB.");
    EXPECT_EQ(sizeReport(1023), "File size: 1023 bytes.");
    EXPECT_EQ(sizeReport(1048576), "File size: 1 Mbytes.");
    EXPECT_EQ(sizeReport(int64_t{30} << 30), "File size: 30720 Mbytes.");
}

}  // namespace
}  // namespace tolvane
