// Pulling and plugging the demo sensors' cables from outside the program: SIGUSR1 unplugs every demo sensor,
// SIGUSR2 plugs them back, so a lost sensor can be tried in a real window (`kill -USR1 <pid>`).
#pragma once

#include <QObject>

class tDemoCable : public QObject {
    Q_OBJECT
public:
    explicit tDemoCable(QObject* parent = nullptr);

signals:
    // After the demo world changed: the system's device-change notice that a real cable would give.
    void deviceChange(unsigned code, unsigned deviceType);
};
