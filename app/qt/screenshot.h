// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures of the window for the documentation, taken by lumbra-screenshot
// (app/screenshot_main.cpp), a driver built beside the program and never
// shipped.
//
// LUMBRA_SCREENSHOT=file.png saves a grab of the window and closes it. With
// LUMBRA_SCREENSHOT_RUN it first drives the window as a user would, on the
// first listed drive:
//   scan      scans, answers the closing message, then grabs;
//   recovery  scans, ticks every row, recovers into LUMBRA_SCREENSHOT_FOLDER
//             and grabs halfway through the run, with the stop caption
//             showing and the bar half full;
//   tooltip   scans, then shows the tooltip of the first row that is not
//             intact over the tinted rows and grabs the screen around the
//             window, so the tooltip is in the picture.
#pragma once

namespace app {

class TMainForm;

// False, with nothing scheduled, unless LUMBRA_SCREENSHOT is set.
bool ScheduleScreenshot(TMainForm& form);

}  // namespace app
