#pragma once
// A look at the windows without a screen grabber: when BRANNOCK_SCREENSHOT_DIR
// is set, the recorder saves main.png after BRANNOCK_SCREENSHOT_AFTER_MS
// (default 5000) milliseconds of running, then opens the storage-days dialog,
// saves days.png and ends. Used by tools/screenshot_recorder.sh.
namespace brannock {

class TOneSegForm;

void ScheduleScreenshots(TOneSegForm& form);

}  // namespace brannock
