// The fixture that installs a fresh double for each test and checks, when the
// test is over, that the double was used and used rightly.
#include "platform_double.h"

void PlatformDoubleTest::SetUp() {
    platform_double::reset();
}

void PlatformDoubleTest::TearDown() {
    using namespace platform_double;
    if (expects_calls_ && calls().empty())
        ADD_FAILURE() << "the test expected platform calls, and none were recorded";
    if (!expects_calls_ && !calls().empty())
        ADD_FAILURE() << "the test expected no platform call, and the first was: "
                      << describe(calls()[0]);
    for (const std::string &fault : program_faults())
        ADD_FAILURE() << "the program misused the platform: " << fault;
    reset();
}
