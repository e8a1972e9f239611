#pragma once
// A pseudo-terminal pair: the master for the station, the slave for the host. The slave
// stays open here for the pair's whole life (in raw mode), because the master sees
// hang-up and EIO whenever no slave is open; the host opens the slave again by its path.
#include <string>

namespace zv::station {

class Pty {
public:
    // Raises zv::Error when the pair cannot be created. The master is non-blocking.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Master() const { return FMaster; }
    int Slave() const { return FSlave; }
    const std::string& SlavePath() const { return FPath; }

    // Closes the master, as when a USB adapter is pulled; the slave fd stays.
    void CloseMaster();

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FPath;
};

}  // namespace zv::station
