// Containment of names received from the server.
#include "install/output_file.h"
#include "refused_names.h"

#include <gtest/gtest.h>
#include <string>

namespace {

class AcceptedName : public ::testing::TestWithParam<std::string> {};

TEST_P(AcceptedName, IsContainedAsAnOrdinaryFileInTheWorkingDirectory) {
    EXPECT_TRUE(IsContainedName(GetParam().c_str())) << "name: \"" << GetParam() << "\"";
}

INSTANTIATE_TEST_SUITE_P(Names, AcceptedName,
                         ::testing::Values("a.txt", "bin\\Update.exe", "Data\\Maps\\track 1.map",
                                           "File.ver", "null.dat", ".hidden", "a..b", "CONSOLE.txt",
                                           "COM10", "LPT0.x", "aux_data\\x",
                                           "\xb0\xa1\xb0\xa2.txt"));

class RefusedName : public ::testing::TestWithParam<std::string> {};

TEST_P(RefusedName, IsNotContained) {
    EXPECT_FALSE(IsContainedName(GetParam().c_str())) << "name: \"" << GetParam() << "\"";
}

INSTANTIATE_TEST_SUITE_P(Catalogue, RefusedName, ::testing::ValuesIn(tvtest::RefusedNames()));

} // namespace
