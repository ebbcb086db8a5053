// The user's own folders by the XDG conventions: where a program keeps its state (the chooser's last choice,
// the log when the program folder cannot be written).
#pragma once

#include <QString>

// $XDG_STATE_HOME/zorbinka, by default ~/.local/state/zorbinka; not created here.
QString UserStateFolder();
