// The checks before the wizard opens: no second updater with the same caption, and the game not running.
#pragma once

// 1 when another updater's window (its wizard or one of its boxes) carries Updater.Caption; that window is
// brought to the front.
int BringOtherUpdaterForward();
// Asks the user to close the game while a window of class GameClass with this title exists. 0 when the
// user cancels (the game's window is brought to the front), 1 once no such window exists.
int WaitForGameWindowClosed(const char* title);
// Both running-game loops: GameTitle, then GameTitleA when it is set.
int WaitForGameClosed();
