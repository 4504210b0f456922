// The list loads: GetProject and GetProjectmember into their datasets, and
// what a load costs in memory.
#include "BenchCommon.h"
#include <DataSource.h>
#include <malloc.h>
#include <sqlite3.h>

namespace bench {

namespace {

qint64 heapInUse()
{
    const struct mallinfo2 mi = mallinfo2();
    return qint64(mi.uordblks + mi.hblkhd);
}

} // namespace

// The list loads: the module (model reset included, resets counted), the
// engine alone, the naive client (every cell into a QVariant) and QSqlQueryModel.
void bmList(benchmark::State &st, Env *env, const std::string &measure, const QByteArray *sql, const std::function<void()> &load,
            TQELDataSource *source)
{
    int resets = 0, loads = 0;
    const auto c = QObject::connect(source, &QAbstractItemModel::modelReset, [&] { ++resets; });
    auto cells = std::make_shared<std::vector<QVariant>>();
    std::vector<Contender> cs = {
        {"module", [&] { load(); ++loads; }, {}, {}},
        {"engine", [env, sql] { benchmark::DoNotOptimize(env->raw->touch(*sql)); }, {}, {}},
        {"naive", [env, sql, cells] { env->raw->query(*sql, *cells); }, {}, {}},
    };
    if (env->peer->available()) {
        const QString text = QString::fromUtf8(*sql);
        cs.push_back({"qsql", [env, text] { env->peer->load(text); }, {}, {}});
    }
    bmRotation(st, env, measure, cs);
    QObject::disconnect(c);
    env->counts[measure + "/resets"] += resets;
    env->counts[measure + "/loads"] += loads;
}

void bmMemory(benchmark::State &st, Env *env)
{
    // Heap growth over one load, less what SQLite's own caches took meanwhile.
    qint64 delta = 0, engine = 0;
    const Collect collect;
    for (auto _ : st) {
        env->cd->cdsProject->Close();
        malloc_trim(0);
        const qint64 before = heapInUse(), engineBefore = sqlite3_memory_used();
        env->cd->GetProject(QString());
        engine = sqlite3_memory_used() - engineBefore;
        delta = heapInUse() - before - engine;
    }
    st.counters["heap_bytes"] = double(delta);
    st.counters["engine_cache_bytes"] = double(engine);
    st.counters["bytes_used"] = double(env->cd->cdsProject->bytesUsed());
    st.counters["text_bytes"] = double(env->projectTextBytes);
    st.counters["rows"] = env->cd->cdsProject->RecordCount();
}

} // namespace bench
