// Containment of names received from the server.
#include "install/output_file.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

struct NameCase {
    const char* name;
    bool contained;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << "\"" << c.name << "\"";
}

class ReceivedName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ReceivedName, IsContainedOnlyWhenItStaysAnOrdinaryFileInTheWorkingDirectory) {
    EXPECT_EQ(IsContainedName(GetParam().name), GetParam().contained)
        << "name: \"" << GetParam().name << "\"";
}

INSTANTIATE_TEST_SUITE_P(Accepted, ReceivedName,
                         ::testing::Values(NameCase{"a.txt", true},
                                           NameCase{"bin\\Update.exe", true},
                                           NameCase{"Data\\Maps\\track 1.map", true},
                                           NameCase{"File.ver", true}, NameCase{"null.dat", true},
                                           NameCase{".hidden", true}, NameCase{"a..b", true},
                                           NameCase{"CONSOLE.txt", true}, NameCase{"COM10", true},
                                           NameCase{"LPT0.x", true}, NameCase{"aux_data\\x", true},
                                           NameCase{"\xb0\xa1\xb0\xa2.txt", true}));

INSTANTIATE_TEST_SUITE_P(
    Refused, ReceivedName,
    ::testing::Values(NameCase{"", false}, NameCase{"..\\x", false}, NameCase{"\\x", false},
                      NameCase{"\\\\server\\share\\x", false}, NameCase{"C:x", false},
                      NameCase{"C:\\Windows\\x", false}, NameCase{".\\File.ver", false},
                      NameCase{"a\\..\\File.ver", false}, NameCase{"a\\.\\b", false},
                      NameCase{"a\\\\b", false}, NameCase{"a\\", false}, NameCase{"..", false},
                      NameCase{".", false}, NameCase{"a/b", false}, NameCase{"/etc/passwd", false},
                      NameCase{"name.", false}, NameCase{"name ", false},
                      NameCase{"dir.\\x", false}, NameCase{"...\\x", false}, NameCase{"CON", false},
                      NameCase{"con.gz", false}, NameCase{"a\\NUL.txt", false},
                      NameCase{"PRN", false}, NameCase{"Aux.dat", false}, NameCase{"COM1", false},
                      NameCase{"lpt9.log", false}, NameCase{"file:stream", false},
                      NameCase{"a?b", false}, NameCase{"a*b", false}, NameCase{"a\tb", false},
                      NameCase{"a|b", false}, NameCase{"a<b>", false},
                      NameCase{"say\"hi\"", false}));

} // namespace
