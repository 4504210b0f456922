#pragma once
#include "BenchData.h"
#include <QString>
#include <map>
#include <string>
#include <vector>

class Table;

// Desks at a distance: every operator command on PostgreSQL through a
// loopback relay, at RTT 0 and 20 ms, against its floor (one round trip plus
// the engine alone on the command's statements in one transaction).
struct DistanceGroup {
    std::string prefix; // "postgresql/10k/"
    QString url;        // the data set's server, reached directly
    const DataSetFacts *facts = nullptr;
    // The group's samples (seconds per call) and counts, kept by the caller.
    std::map<std::string, std::vector<double>> *samples = nullptr;
    std::map<std::string, double> *counts = nullptr;
};

// Registers "<prefix>distance" unless `only` leaves it out; every command is
// measured `rounds` times at each RTT.
void RegisterDistance(const DistanceGroup &group, const QString &only, int rounds);

// The table's section for the group registered; nothing when it did not run.
void FillDistanceTable(Table &table);
