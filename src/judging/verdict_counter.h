// VerdictCounter: the verdict bookkeeping of the repaint — the verdict text fixed
// from the result word, the last verdict, the PASS/FAIL stable-frame counters, and
// whether the test cycle runs (the widget then leaves repainting to the cycle, so
// mouse input does not count verdicts).
//
// No lock of its own for the texts and counters: NodeMap calls it under the map's
// lock. The running flag is atomic, read by the UI thread without that lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace varnex2::judging {

class VerdictCounter {
 public:
  VerdictCounter();

  // Verdict text a result word gives: "PASS", "FAIL" or "".
  static const char* VerdictFor(std::int32_t resultFlags);

  // Stores the verdict text of the result word and counts it; returns the text.
  const std::string& Fix(std::int32_t resultFlags);
  // Counts the stored verdict text: a repeat of the last verdict adds one to its
  // counter, a change restarts both counters at 0.
  void Count();

  const std::string& Text() const { return strWindowText; }
  const std::string& Last() const { return strLastVerdict; }
  std::int32_t PassCount() const { return nColorGridCounter_Pass; }
  std::int32_t FailCount() const { return nColorGridCounter_Fail; }

  void SetTestRunning(bool running) { testRunning_.store(running); }
  bool TestRunning() const { return testRunning_.load(); }
  void SetCountingPaint(bool counting) { countingPaint_.store(counting); }

 private:
  std::string strWindowText;  // the verdict text fixed at the last repaint
  std::string strLastVerdict;
  std::int32_t nColorGridCounter_Pass = 0;
  std::int32_t nColorGridCounter_Fail = 0;
  std::atomic<bool> testRunning_{false};
  std::atomic<bool> countingPaint_{false};
};

}  // namespace varnex2::judging
