// The user's own folders by the XDG conventions: where a program keeps its state (the chooser's last choice,
// the log when the program folder cannot be written), the user's own settings and the user's own data (the
// works measured, the teacher's own experiments).
#pragma once

#include <QString>

// $XDG_STATE_HOME/zorbinka, by default ~/.local/state/zorbinka; none of them is created here.
QString UserStateFolder();
// $XDG_CONFIG_HOME/zorbinka, by default ~/.config/zorbinka: the user's zorbinka.cfg, which overrides the
// shipped settings key by key.
QString UserConfigFolder();
// $XDG_DATA_HOME/zorbinka/data/, by default ~/.local/share/zorbinka/data/: the teacher's own experiments,
// shown in the chooser beside the shipped catalogue. Ends in "/".
QString UserCatalogueFolder();

// The state file `name` in UserStateFolder, safe to hand to QSettings: one that is no plain file (a FIFO, a
// device, a folder, a link to one), is larger than 1 MiB or cannot be read is moved aside first (to
// `name`.unusable, the log says why), so that reading it never hangs and the file begins anew; /dev/null
// when it cannot be moved.
QString UserStateFile(const QString& name);
// The same for a file anywhere; the reason it was moved aside, empty when it was not.
QString SetAsideUnusable(const QString& fileName, qint64 maxSize = qint64(1) << 20);
