// What the two window programs do alike at start-up: the debug log, opened only when the debug
// flag file exists, and the report of a second instance (logged, then its box offered to the test
// seam).
#pragma once

// Opens "C:\Work/quenta/temp/quenta_upgrade.log" when the flag file
// "C:\Work/quenta/bin/SS_DEBUG_ENABLED" exists (a file, not a folder), making the folder first.
void openStartupDebugLog();

// Logs that another instance runs. True: the front end shows the box flowtext::kAlreadyRunning
// (title flowtext::kErrorTitle, stop icon); false: the test seam answered it.
bool reportAlreadyRunning();
