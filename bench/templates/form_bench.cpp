// Form decoding: a 50-field form body as a compose or options page posts
// it (short values, escapes, a few repeated Number fields, one longer text).
#include <benchmark/benchmark.h>

#include <string>

#include "engine/core/cgi/encoding.h"
#include "engine/core/cgi/field_table.h"

namespace {

using namespace corvane::cgi;

std::string make_body()
{
    std::string body;
    for (int i = 0; i < 40; ++i)
        body += "Field" + std::to_string(i) + "=" + url_encoded("value " + std::to_string(i) + " & more") + "&";
    for (int i = 0; i < 8; ++i)
        body += "Number=" + std::to_string(1000 + i) + "&";
    body += "Subject=" + url_encoded("Re: Meeting on Thursday (agenda attached)") + "&";
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += "Line " + std::to_string(i) + " of the message, with \"quotes\" and 100% of the usual words.\r\n";
    body += "Body=" + url_encoded(text);
    return body;
}

void BM_ParseFormBody(benchmark::State& state)
{
    const std::string body = make_body();
    std::size_t fields = 0;
    for (auto _ : state) {
        FieldTable table;
        table.register_multi_value("Number");
        table.register_multi_value("AddrNum");
        table.register_multi_value("GlobalNum");
        table.parse_form(body);
        fields = table.size();
        benchmark::DoNotOptimize(table.value("Body").size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    state.counters["fields"] = static_cast<double>(fields);
    state.counters["body_bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_ParseFormBody);

void BM_EscapeFormattedText(benchmark::State& state)
{
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "A line of a message  with <angle> brackets & two  blanks.\n";
    std::string out;
    for (auto _ : state) {
        out.clear();
        escape_html_formatted(text, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_EscapeFormattedText);

}  // namespace

BENCHMARK_MAIN();
