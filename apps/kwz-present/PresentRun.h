// The sending loop of kwz-present: frames from the source, coded by the streamer, sent by the
// sender, at the frame rate, until the frame or time limit or a stop request.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>

#include "apps/kwz-present/PresentOptions.h"
#include "presenter/IScreenSource.h"

namespace kwz_present {

// The source the options name. Raises exc_screen_source when it cannot be opened.
std::unique_ptr<presenter::IScreenSource> MakeSource(const PresentOptions& options);

// Runs the loop on the calling thread and writes the one-line summary to summary. stop may be
// set from a signal handler. Returns the exit status: 0, or 1 after a set-up failure (reported
// on errors).
int RunPresenter(const PresentOptions& options, const std::atomic<bool>& stop, std::FILE* summary,
                 std::FILE* errors);

}  // namespace kwz_present
