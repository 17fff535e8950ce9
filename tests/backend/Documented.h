// Windows' documented behaviours that a platform the shared tests run on is known to depart from,
// one named constant each. The model follows the documentation; the Windows backend lists the
// ones Wine departs from (Backend::departs), and a case that checks one of them fails where the
// list no longer tells the truth: where the platform keeps to a listed behaviour, and where it
// departs from one not listed.
#pragma once

struct Documented {
    // The behaviour, as the tests report it.
    const char* text;
    // Where the platform departs, the call crashes it: the case leaves the call out there, so only
    // a run on a platform that keeps to it shows that the departure is gone.
    bool departureCrashes = false;
};

namespace documented {

inline constexpr Documented recordTextNeedsASize{
    "MsiRecordGetString answers ERROR_INVALID_PARAMETER for a buffer without a size", true};
inline constexpr Documented noIntegerReadsAsNull{
    "MsiRecordGetInteger answers MSI_NULL_INTEGER for a field that is no integer (\"-\")"};
inline constexpr Documented textBeyondTheCountIsRefused{
    "MsiRecordSetString answers ERROR_INVALID_PARAMETER for a field beyond the count"};
inline constexpr Documented lastErrorRecordIsHandedOver{
    "MsiGetLastErrorRecord hands over the record of the last failed installer call"};
inline constexpr Documented messageOfAnInvalidRecordAnswersMinusOne{
    "MsiProcessMessage answers -1 for an invalid record handle"};
inline constexpr Documented secondFindCloseFails{
    "FindClose fails with ERROR_INVALID_HANDLE for a search handle already closed"};
inline constexpr Documented fetchAfterCloseFails{
    "MsiViewFetch answers ERROR_FUNCTION_FAILED on a closed view: closing it released its rows"};
inline constexpr Documented sessionDatabaseTakesTemporaryRowsOnly{
    "MsiViewModify refuses MSIMODIFY_INSERT on the session's database: an action adds temporary rows only"};
inline constexpr Documented scriptHoldsRollbackAndCommitActions{
    "MsiDoAction writes rollback and commit actions into the script; they do not run at once"};
inline constexpr Documented failedScriptRunsItsRollbackActions{
    "a failed deferred action runs the rollback actions written before it, the last one first"};
inline constexpr Documented utf8ConversionTakesNoDefaultCharacter{
    "WideCharToMultiByte to CP_UTF8 fails with ERROR_INVALID_PARAMETER when given a default character or its flag"};
inline constexpr Documented deferredActionHasNoDatabase{"MsiGetActiveDatabase answers 0 in a deferred action"};
inline constexpr Documented deferredActionReadsItsDataOnly{
    "a deferred action reads CustomActionData, ProductCode and UserSID; any other property as empty"};

}  // namespace documented
