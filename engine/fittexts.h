// The fits' own sentences, which the engine, the windows and the batch
// command say alike: each is written here once.
#pragma once

namespace orvalle::texts {

// A fit that did not reach its least chi-square.
inline constexpr const char *kNotConverged = "Fit failed to converge try improving estimates";
// Any other failure of Fit && Plot, in the windows and the batch command.
inline constexpr const char *kCriticalFailure =
    "Critical Failure Occurred In Fitted The Chosen Line";
// Errors a dataset cannot be weighted by.
inline constexpr const char *kBadYErrors = "Y error points can not contain ZERO or MINIUS values";
inline constexpr const char *kBadXErrors = "X error points can not contain ZERO or NEGATIVE values";
// "You need at least " n " points in the dataset to fit " item.
inline constexpr const char *kNeedAtLeast = "You need at least ";
inline constexpr const char *kPointsToFit = " points in the dataset to fit ";

// A dataset or fit that is not whole, which no window or command makes.
inline constexpr const char *kNoWeightedDataset = "The fit has no weighted dataset";
inline constexpr const char *kNoErrorDataset = "The fit has no dataset with x and y errors";
inline constexpr const char *kWeightsDiffer = "The weights, x values and y values differ in length";
inline constexpr const char *kErrorsDiffer = "The x errors, y errors and values differ in length";
inline constexpr const char *kRowsDiffer = "The dataset's rows differ in length";
inline constexpr const char *kMultiNeedsLines = "A multi fit needs one line per dataset";

inline constexpr const char *kPolyDegreeRange = "A polynomial fit needs a degree from 1 to 10";
// "A polynomial of degree " N " needs " ... the reason.
inline constexpr const char *kPolyOfDegree = "A polynomial of degree ";
// "The plug-in model \"" name "\"" and what it did.
inline constexpr const char *kPluginModel = "The plug-in model \"";
// The method of the x errors, named in a fit's description as
// "x errors included (" method ")".
inline constexpr const char *kEffectiveVariance = "effective variance";
inline constexpr const char *kXErrorsIncluded = "x errors included (";
inline constexpr const char *kEffectiveVarianceUnsettled =
    "The effective-variance rounds did not settle";
// A project's fit that failed when it was made again.
inline constexpr const char *kFailedAgain = ": the fit failed again";

} // namespace orvalle::texts
