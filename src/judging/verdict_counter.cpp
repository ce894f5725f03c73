#include "judging/verdict_counter.h"

#include "judging/node_types.h"

namespace varnex2::judging {

VerdictCounter::VerdictCounter() {
  strWindowText.reserve(16);
  strLastVerdict.reserve(16);
}

const char* VerdictCounter::VerdictFor(std::int32_t resultFlags) {
  const char* text = "";
  if ((resultFlags & ~ResultFlag::EVALUATION_SHOWN) == 0) return "PASS";
  if (resultFlags & (ResultFlag::TOUCH_NG | ResultFlag::KEY_NG)) text = "FAIL";
  if (resultFlags & ResultFlag::SHORT_FOUND) text = "FAIL";
  if (resultFlags & ResultFlag::SHORT_LINE_NOT_FOUND) text = "";
  return text;
}

const std::string& VerdictCounter::Fix(std::int32_t resultFlags) {
  strWindowText.assign(VerdictFor(resultFlags));
  // While the test cycle runs only its own repaint counts: hover, resize and
  // expose paints fix the text without counting.
  if (!testRunning_.load() || countingPaint_.load()) Count();
  return strWindowText;
}

void VerdictCounter::Count() {
  if (strWindowText == "PASS") ++nColorGridCounter_Pass;
  if (strWindowText == "FAIL") ++nColorGridCounter_Fail;
  if (strWindowText != strLastVerdict) {
    nColorGridCounter_Pass = 0;
    nColorGridCounter_Fail = 0;
  }
  strLastVerdict.assign(strWindowText);
}

}  // namespace varnex2::judging
