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
    sim::reset();
    session = sim::openSession();
}

void SessionTest::checkRow(const char* when, const char* file, int line)
{
    if (session == 0) {
        return;
    }
    // A row's leftovers point at the line that began the row; the case's own at the case.
    if (inRow) {
        file = rowStart.file_name();
        line = static_cast<int>(rowStart.line());
    }
    const std::string blamed = !inRow            ? std::string(when) + ": "
                               : rowName.empty() ? std::string(when) + ": the row begun here left behind: "
                                                 : std::string(when) + ": the row \"" + rowName + "\" left behind: ";
    for (const std::string& problem : sim::leftovers(session).problems()) {
        ADD_FAILURE_AT(file, line) << blamed << problem;
    }
}

void SessionTest::resetModel(std::source_location where)
{
    resetModel(std::string_view{}, where);
}

void SessionTest::resetModel(std::string_view row, std::source_location where)
{
    checkRow("before resetModel()", where.file_name(), static_cast<int>(where.line()));
    sim::reset();
    session = sim::openSession();
    rowName = row;
    rowStart = where;
    inRow = true;
}

SessionTest::Row SessionTest::startRow(std::string_view name, std::source_location where)
{
    return Row(*this, name, where);
}

SessionTest::Row::Row(SessionTest& fixture, std::string_view name, std::source_location where)
    : fixture(fixture), trace(where.file_name(), static_cast<int>(where.line()), std::string(name))
{
    fixture.resetModel(name, where);
}

SessionTest::Row::~Row()
{
    fixture.checkRow("at the row's end", __FILE__, __LINE__);
    // Checked: the next row, or the fixture after the case, starts from a clean slate.
    sim::reset();
    fixture.session = sim::openSession();
    fixture.inRow = false;
}

void SessionTest::TearDown()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    checkRow("after the case", info != nullptr ? info->file() : __FILE__, info != nullptr ? info->line() : __LINE__);
}

}  // namespace qel::testing
