// Collects the statuses and questions of one InstallerController and lets a test wait for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "core/installer_types.h"

namespace lum::test {

using installer::ConfirmationKind;
using installer::InstallerStatus;
using installer::InstallStage;

struct TimedStatus {
  InstallerStatus status;
  std::chrono::steady_clock::time_point at;
};

class RunRecorder {
 public:
  void OnStatus(const InstallerStatus& status) {
    std::lock_guard lock(mutex_);
    statuses_.push_back({status, std::chrono::steady_clock::now()});
    changed_.notify_all();
  }

  bool OnConfirm(ConfirmationKind kind) {
    std::function<void()> hook;
    bool answer = false;
    {
      std::lock_guard lock(mutex_);
      questions_.push_back(kind);
      answer = answers_.empty() ? false : answers_.front();
      if (!answers_.empty()) answers_.erase(answers_.begin());
      hook = onQuestion_;
    }
    if (hook) hook();
    return answer;
  }

  void SetAnswers(std::vector<bool> answers, std::function<void()> onQuestion = nullptr) {
    std::lock_guard lock(mutex_);
    answers_ = std::move(answers);
    onQuestion_ = std::move(onQuestion);
  }

  // Waits for a Completed or Failed status.
  InstallerStatus WaitForEnd(std::chrono::seconds timeout = std::chrono::seconds(120)) {
    return WaitFor(
        [](const InstallerStatus& s) {
          return s.stage == InstallStage::Completed || s.stage == InstallStage::Failed;
        },
        timeout);
  }

  InstallerStatus WaitFor(const std::function<bool(const InstallerStatus&)>& predicate,
                          std::chrono::seconds timeout = std::chrono::seconds(120)) {
    std::unique_lock lock(mutex_);
    const bool seen = changed_.wait_for(lock, timeout, [&] {
      for (const auto& s : statuses_) {
        if (predicate(s.status)) return true;
      }
      return false;
    });
    if (!seen) {
      ADD_FAILURE() << "status not reached in time";
      return {};
    }
    for (const auto& s : statuses_) {
      if (predicate(s.status)) return s.status;
    }
    return {};
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    statuses_.clear();
    questions_.clear();
    answers_.clear();
    onQuestion_ = nullptr;
  }

  std::vector<TimedStatus> Statuses() {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  std::vector<ConfirmationKind> Questions() {
    std::lock_guard lock(mutex_);
    return questions_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TimedStatus> statuses_;
  std::vector<ConfirmationKind> questions_;
  std::vector<bool> answers_;
  std::function<void()> onQuestion_;
};

}  // namespace lum::test
