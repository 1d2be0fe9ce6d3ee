// What the kept history costs where it is largest: a profile whose history file holds 1,000,000
// lines, 100,000 of them (the cap) with each of ten buddies.
//
//   OpenTab           a buddy's transcript begins with its newest kept lines (ChatHistory::attach,
//                     the client's own path) and the main window's chat box shows and lays them out
//   NewestLinesSql    reference: the same newest lines by a plain sqlite3 SELECT, nothing more
//   SearchRare/Common Search History for a word in 100 lines / in a tenth of all lines (the newest
//                     200 of them are shown)
//   SearchScanSql     reference: the plain way without the index, a LIKE over every line
//   AppendAtCap       one more line with a buddy at the cap (stored, the oldest deleted)
//   InsertSql         reference: a plain INSERT into a table without indexes
//
// Run as bench/bench_history [--benchmark_...]; the file is made once in a temporary folder
// (about a minute).
#include "RatioReporter.h"
#include "TempConfig.h"

#include "chat/ChatHistory.h"
#include "chat/ChatTranscript.h"
#include "chat/TranscriptView.h"
#include "history/HistoryStore.h"
#include "session/ClientSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTextEdit>
#include <QAbstractTextDocumentLayout>

#include <sqlite3.h>

#include <cstdio>
#include <memory>

using namespace cfb;
using namespace cfb::client;

namespace {

constexpr int Buddies = 10;
constexpr int LinesPerBuddy = HistoryStore::DefaultCapPerBuddy;
constexpr int64_t Start = 1700000000000; // November 2023, a line every 20 s from then on

ClientSession* g_session = nullptr;

QString buddyName(int i)
{
    return QStringLiteral("buddy%1").arg(i);
}

// Lines of five to fifteen words from a vocabulary of 2,000, the common ones far more often (as
// words go); "zebra" is in 100 lines, "meeting" in every tenth.
void fill(HistoryStore& store)
{
    QStringList vocabulary;
    for (int i = 0; i < 2000; ++i)
        vocabulary << QStringLiteral("w%1x").arg(i, 4, 36, QLatin1Char('0'));
    QRandomGenerator random(35);
    QList<HistoryLine> batch;
    int64_t n = 0;
    for (int i = 0; i < Buddies * LinesPerBuddy; ++i) {
        HistoryLine line;
        line.buddy = buddyName(i % Buddies);
        line.outgoing = random.bounded(2) == 0;
        line.sender = line.outgoing ? QStringLiteral("amelia") : line.buddy;
        line.timeMs = Start + 20000 * n++;
        line.secure = true;
        line.delivery = line.outgoing ? HistoryDelivery::Delivered : HistoryDelivery::Received;
        QStringList words;
        const int count = 5 + int(random.bounded(11));
        for (int w = 0; w < count; ++w) {
            const double u = random.generateDouble();
            words << vocabulary[int(u * u * u * vocabulary.size())];
        }
        if (i % 10 == 3)
            words.insert(1, QStringLiteral("meeting"));
        if (i % 10000 == 7)
            words.insert(2, QStringLiteral("zebra"));
        line.text = words.join(QLatin1Char(' '));
        batch << line;
        if (batch.size() == 10000) {
            if (store.append(batch).isEmpty()) {
                std::fprintf(stderr, "cannot fill the history: %s\n", qPrintable(store.problem()));
                std::exit(1);
            }
            batch.clear();
        }
    }
}

void OpenTab(benchmark::State& state)
{
    ChatHistory history;
    QTextEdit box;
    box.resize(560, 360);
    TranscriptView view(&box, *g_session);
    size_t shown = 0;
    for (auto _ : state) {
        ChatTranscript transcript;
        history.attach(buddyName(4), transcript, true);
        view.follow(&transcript);
        // Laid out, as the box is before it is painted.
        benchmark::DoNotOptimize(box.document()->documentLayout()->documentSize());
        shown = transcript.lines().size();
        view.follow(nullptr);
    }
    state.counters["lines"] = double(shown);
}

void NewestLinesSql(benchmark::State& state)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(qPrintable(HistoryStore::defaultPath()), &db, SQLITE_OPEN_READONLY, nullptr);
    int64_t rows = 0;
    for (auto _ : state) {
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db,
            "SELECT id, time, buddy, outgoing, sender, text, secure, delivery FROM lines WHERE buddy = ?1 "
            "ORDER BY time DESC, id DESC LIMIT ?2",
            -1, &select, nullptr);
        sqlite3_bind_text(select, 1, "buddy4", -1, SQLITE_STATIC);
        sqlite3_bind_int(select, 2, ChatHistory::LinesShown);
        rows = 0;
        while (sqlite3_step(select) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_text(select, 5));
            ++rows;
        }
        sqlite3_finalize(select);
    }
    sqlite3_close(db);
    state.counters["lines"] = double(rows);
}

void search(benchmark::State& state, const char* word)
{
    HistoryStore store(HistoryStore::defaultPath());
    size_t found = 0;
    for (auto _ : state)
        found = store.search(QString::fromLatin1(word)).size();
    state.counters["found"] = double(found);
}

void SearchRare(benchmark::State& state)
{
    search(state, "zebra");
}

void SearchCommon(benchmark::State& state)
{
    search(state, "meeting");
}

void SearchScanSql(benchmark::State& state)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(qPrintable(HistoryStore::defaultPath()), &db, SQLITE_OPEN_READONLY, nullptr);
    int64_t rows = 0;
    for (auto _ : state) {
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "SELECT id, text FROM lines WHERE text LIKE '%zebra%' ORDER BY id DESC LIMIT 200", -1,
            &select, nullptr);
        rows = 0;
        while (sqlite3_step(select) == SQLITE_ROW)
            ++rows;
        sqlite3_finalize(select);
    }
    sqlite3_close(db);
    state.counters["found"] = double(rows);
}

// A buddy at the cap says one more line: it is stored and the oldest goes (what every line of a
// long conversation costs), against a plain INSERT into the same file.
void AppendAtCap(benchmark::State& state)
{
    HistoryStore store(HistoryStore::defaultPath());
    HistoryLine line;
    line.buddy = buddyName(7);
    line.sender = line.buddy;
    line.text = QStringLiteral("one more line for the meeting");
    for (auto _ : state)
        benchmark::DoNotOptimize(store.append(line));
    state.counters["kept"] = double(store.count(buddyName(7)));
}

void InsertSql(benchmark::State& state)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(qPrintable(HistoryStore::defaultPath() + QStringLiteral(".plain")), &db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; CREATE TABLE t (time INTEGER, buddy TEXT, text TEXT)",
        nullptr, nullptr, nullptr);
    for (auto _ : state) {
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO t VALUES (1, 'buddy7', 'one more line for the meeting')", -1, &insert, nullptr);
        sqlite3_step(insert);
        sqlite3_finalize(insert);
    }
    sqlite3_close(db);
}

BENCHMARK(OpenTab)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(NewestLinesSql)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(SearchRare)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(SearchCommon)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(SearchScanSql)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(AppendAtCap)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(InsertSql)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    TempConfig config;
    {
        QElapsedTimer made;
        made.start();
        HistoryStore store(HistoryStore::defaultPath());
        if (!store.isOpen()) {
            std::fprintf(stderr, "%s\n", qPrintable(store.problem()));
            return 1;
        }
        fill(store);
        std::printf("history file of %d lines (%d buddies, %.0f MB) made in %.1f s\n", Buddies * LinesPerBuddy,
            Buddies, QFileInfo(store.path()).size() / 1e6, made.elapsed() / 1000.0);
    }
    ClientSession session(nullptr);
    session.setHandle(QStringLiteral("amelia"));
    g_session = &session;
    RatioReporter reporter({{"OpenTab/min_time:2.000", "NewestLinesSql/min_time:1.000"},
        {"SearchRare/min_time:1.000", "SearchScanSql/min_time:2.000"},
        {"SearchCommon/min_time:1.000", "SearchScanSql/min_time:2.000"},
        {"AppendAtCap/min_time:1.000", "InsertSql/min_time:1.000"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios("Against plain SQLite on the same file (above 1: faster than the reference):");
    benchmark::Shutdown();
    return 0;
}
