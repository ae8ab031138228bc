#pragma once
// The simulated T516 the benchmarks talk to: a pseudo-terminal behind
// $HV52_SERIAL_DIR/com1 in a temporary directory, with a bounded frame log so
// long runs keep a flat memory profile.
#include "sim/simulator.h"

#include <QTemporaryDir>
#include <cstdio>

struct BenchModule
{
    QTemporaryDir dir;
    hv52sim::Simulator sim{hv52sim::Module::T516};

    bool start(size_t logCapacity)
    {
        std::string error;
        if (!sim.start(dir.path().toStdString(), 1, &error)) {
            std::fprintf(stderr, "simulator: %s\n", error.c_str());
            return false;
        }
        sim.setLogCapacity(logCapacity);
        qputenv("HV52_SERIAL_DIR", dir.path().toLocal8Bit());
        return true;
    }
};
