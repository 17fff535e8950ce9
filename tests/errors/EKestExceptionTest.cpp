#include "errors/EKestException.h"
#include "SimTest.h"
#include "errors/EKestInvalidParameter.h"
#include "errors/EKestWinError.h"

using ExceptionTest = SimTest;

TEST_F(ExceptionTest, PlainExceptionCarriesItsFailureOnlyInTheFirstEntry)
{
    const EKestException error("Owner::method", "Owner", 42, "Unable to create new log file");

    EXPECT_EQ(error.getErrorCode(), 0);
    EXPECT_EQ(error.getMessage(), "Unknown exception");
    EXPECT_EQ(error.getCaption(), "Program Exception");
    ASSERT_EQ(error.getHistory().size(), 1u);
    const EKestExceptionInfo& entry = error.getFirstHistoryEntry();
    EXPECT_EQ(entry.getTypeName(), "EKestException");
    EXPECT_EQ(entry.getContext(), "Owner::method");
    EXPECT_EQ(entry.getFileName(), "Owner");
    EXPECT_EQ(entry.getLine(), 42);
    EXPECT_EQ(entry.getComment(), "Unable to create new log file");
}

TEST_F(ExceptionTest, InvalidParameterHasItsOwnMessageAndTypeName)
{
    const EKestInvalidParameter error("Owner::method", "Owner", 7, "Illegal value");

    EXPECT_EQ(error.getErrorCode(), 0);
    EXPECT_EQ(error.getMessage(), "An invalid parameter was passed to the function");
    EXPECT_EQ(error.getCaption(), "Program Exception");
    EXPECT_EQ(error.getFirstHistoryEntry().getTypeName(), "EKestInvalidParameter");
}

TEST_F(ExceptionTest, AddedEntriesAlwaysNameTheBaseClassAndCopiesKeepTheWholeHistory)
{
    EKestWinError error(2, "Owner::method", "Owner", 1, "Function Failed: DeleteFile()");
    error.addHistoryEntry("Caller::method", "Caller", 2, "Persisting exception");

    const EKestWinError copy(error);
    ASSERT_EQ(copy.getHistory().size(), 2u);
    EXPECT_EQ(copy.getFirstHistoryEntry().getTypeName(), "EKestWinError");
    EXPECT_EQ(copy.getLastHistoryEntry().getTypeName(), "EKestException");
    EXPECT_EQ(copy.getLastHistoryEntry().getContext(), "Caller::method");
    EXPECT_EQ(copy.getLastHistoryEntry().getLine(), 2);
    EXPECT_EQ(copy.getErrorCode(), 2);
    EXPECT_EQ(copy.getMessage(), error.getMessage());
}

TEST_F(ExceptionTest, WasRaisedInLooksAtTheFirstEntryOnlyAndMindsLetterCase)
{
    EKestException error("Owner::method", "Owner", 1, "raised");
    error.addHistoryEntry("Caller::method", "Caller", 2, "Persisting exception");

    EXPECT_TRUE(error.wasRaisedIn("Owner::method"));
    EXPECT_FALSE(error.wasRaisedIn("Caller::method"));
    EXPECT_FALSE(error.wasRaisedIn("owner::method"));
    EXPECT_FALSE(error.wasRaisedIn("Owner::method "));
}

TEST_F(ExceptionTest, SettersReplaceAndSetHistoryNeverEmptiesTheHistory)
{
    EKestException error("Owner::method", "Owner", 1, "raised");
    error.setErrorCode(5);
    error.setMessage("message");
    error.setCaption("caption");
    EXPECT_EQ(error.getErrorCode(), 5);
    EXPECT_EQ(error.getMessage(), "message");
    EXPECT_EQ(error.getCaption(), "caption");

    const EKestHistory replacement{{"EKestException", "A::a", "A", 1, "one"},
                                   {"EKestException", "B::b", "B", 2, "two"}};
    error.setHistory(replacement);
    ASSERT_EQ(error.getHistory().size(), 2u);
    EXPECT_EQ(error.getFirstHistoryEntry().getContext(), "A::a");
    EXPECT_EQ(error.getLastHistoryEntry().getContext(), "B::b");

    error.setHistory({});
    EXPECT_EQ(error.getHistory().size(), 2u) << "an exception always keeps its raise point";
}

TEST_F(ExceptionTest, MessageAndCaptionLoadFromResourcesOrFallBackToTheDefault)
{
    const auto module = reinterpret_cast<HINSTANCE>(0x400000);
    sim::setStringResource(module, 100, "Installation error");

    EKestException error("Owner::method", "Owner", 1, "raised");
    error.loadMessage(module, 100, "default message");
    error.loadCaption(module, 101, "default caption");

    EXPECT_EQ(error.getMessage(), "Installation error");
    EXPECT_EQ(error.getCaption(), "default caption");
}
