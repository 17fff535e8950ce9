#include "testing/SessionTest.h"

#include "errors/EKestException.h"
#include "messages/KestMessageProcessor.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <sstream>
#include <string>

namespace qel::testing {
namespace {

// Fails the case, at the given place, for everything left behind.
void expectNothingLeftBehind(MSIHANDLE session, const char* when, const char* file, int line)
{
    for (const std::string& problem : sim::leftovers(session).problems()) {
        ADD_FAILURE_AT(file, line) << when << ": " << problem;
    }
}

// Shows the report of a library exception that ended a case. GoogleTest takes the exception for
// one of no standard class and reports its failure from inside its handler, where the exception is
// still the current one.
class LibraryExceptionReport : public ::testing::EmptyTestEventListener {
public:
    void OnTestPartResult(const ::testing::TestPartResult& result) override
    {
        const std::exception_ptr current = std::current_exception();
        if (!current || !result.fatally_failed() || std::strstr(result.message(), "C++ exception") == nullptr) {
            return;
        }
        try {
            std::rethrow_exception(current);
        } catch (const EKestException& error) {
            std::ostringstream report;
            KestMessageProcessor processor;
            processor.initialize(report);
            processor.logMessage(error);
            std::printf("The exception is the library's (EKestException); its report:\n%s\n", report.str().c_str());
            std::fflush(stdout);
        } catch (...) {
        }
    }
};

void showLibraryExceptions()
{
    static const bool added = [] {
        ::testing::UnitTest::GetInstance()->listeners().Append(new LibraryExceptionReport);
        return true;
    }();
    (void)added;
}

}  // namespace

void SessionTest::SetUp()
{
    showLibraryExceptions();
    resetModel();
}

void SessionTest::resetModel(std::source_location where)
{
    if (session != 0) {
        expectNothingLeftBehind(session, "before resetModel()", where.file_name(), static_cast<int>(where.line()));
    }
    sim::reset();
    session = sim::openSession();
}

void SessionTest::TearDown()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    expectNothingLeftBehind(session, "after the case", info != nullptr ? info->file() : __FILE__,
                            info != nullptr ? info->line() : __LINE__);
}

}  // namespace qel::testing
