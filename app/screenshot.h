// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of the window for the documentation, taken by the program itself.
//
// LUMBRA_SCREENSHOT=file.png saves a grab of the window and closes it. With
// LUMBRA_SCREENSHOT_RUN it first drives the window as a user would, on the
// first listed drive:
//   scan      scans, answers the closing message, then grabs;
//   recovery  scans, ticks every row, recovers into LUMBRA_SCREENSHOT_FOLDER
//             and grabs halfway through the run, with the stop caption
//             showing and the bar half full.
#pragma once

namespace app {

class TMainForm;

// Does nothing unless LUMBRA_SCREENSHOT is set.
void ScheduleScreenshot(TMainForm& form);

}  // namespace app
