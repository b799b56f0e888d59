// Times the check's comparison on a large catalogue: a 10 MB server
// catalogue of 100,000 records against a local catalogue of 50,000 records.
// Run under Wine: bench-catalogue.exe
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"

namespace {

constexpr int kServerRecords = 100000;
constexpr int kLocalRecords = 50000;
constexpr size_t kServerBytes = 10 * 1000 * 1000;
constexpr int kSpotChecks = 300;

std::string makeRecord(std::mt19937& rng, int serial, size_t length) {
    static const char* const words[] = {"Winter", "Summer", "Special", "Edition",  "Review",
                                        "Garden", "Travel", "Kitchen", "Science",  "History",
                                        "Annual", "Digest", "Weekly",  "Collector"};
    std::string title;
    while (title.size() < length) {
        if (!title.empty())
            title += ' ';
        title += words[rng() % std::size(words)];
    }
    title.resize(length);
    const char code[] = {static_cast<char>('A' + rng() % 26), static_cast<char>('A' + rng() % 26), '\0'};
    return title + "_" + code + "_" + std::to_string(serial) + ".f#";
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    std::mt19937 rng(2024);
    const size_t recordLength = kServerBytes / kServerRecords;
    std::vector<std::string> records;
    records.reserve(kServerRecords);
    std::string server;
    server.reserve(kServerBytes + kServerRecords);
    for (int i = 0; i < kServerRecords; ++i) {
        records.push_back(makeRecord(rng, i, recordLength - 12));
        server += records.back() + ";";
    }
    // The user dealt with every other server issue, some by removal (no ";"),
    // plus older issues the server no longer offers.
    std::string local;
    for (int i = 0; i < kLocalRecords; ++i) {
        const bool fromServer = i % 10 != 0;
        local += fromServer ? records[static_cast<size_t>(i) * 2] : makeRecord(rng, kServerRecords + i, 80);
        if (i % 7)
            local += ";";
    }

    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> split = splitServerCatalogue(server);
    const double splitSeconds = secondsSince(start);
    const KnownRecords known(local);
    const double indexSeconds = secondsSince(start) - splitSeconds;
    size_t newCount = 0;
    for (const std::string& record : split) newCount += !known.isKnown(record);
    const double totalSeconds = secondsSince(start);

    // The answers must be those of a plain search.
    size_t mismatches = 0;
    double plainSeconds = 0;
    for (int i = 0; i < kSpotChecks; ++i) {
        const std::string& record = split[rng() % split.size()];
        const auto plainStart = std::chrono::steady_clock::now();
        const bool plain = local.find(record) != std::string::npos;
        plainSeconds += secondsSince(plainStart);
        mismatches += known.isKnown(record) != plain;
    }

    std::printf("server catalogue: %zu bytes, %zu records; local catalogue: %zu bytes, %d records\n",
                server.size(), split.size(), local.size(), kLocalRecords);
    std::printf("new: %zu, known: %zu; spot checks against a plain search: %d, mismatches: %zu\n", newCount,
                split.size() - newCount, kSpotChecks, mismatches);
    std::printf("split %.3f s + index %.3f s + compare %.3f s = %.3f s\n", splitSeconds, indexSeconds,
                totalSeconds - splitSeconds - indexSeconds, totalSeconds);
    std::printf("a plain search of every record would take about %.1f s\n",
                plainSeconds / kSpotChecks * static_cast<double>(split.size()));
    return mismatches == 0 ? 0 : 1;
}
