// Random messages for the compose tests: header fields with non-ASCII
// names and subjects, texts with lines that begin with "." or run past
// SMTP's limit, attachments of random bytes. Each case knows what a reader
// must get back; mail_reference.py (Python's email package) checks that.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/platform/files.h"
#include "engine/features/compose/compose_directory.h"
#include "engine/features/compose/message_builder.h"

namespace corvane::testing {

struct Address {
    std::string name;  // display name as a reader gets it
    std::string address;
};

struct MailCase {
    compose::MessageFields fields;
    compose::WordCharset charset;
    Address from;
    std::vector<Address> to, cc;
    std::string body;                                              // what the text part must read as
    std::vector<std::pair<std::string, std::string>> attachments;  // name, bytes
    std::vector<std::string> types;                                // expected content types

    void write(const compose::ComposeDirectory& dir) const
    {
        std::string text = body;
        // The form sends CR LF; the text part has LF.
        std::string form;
        for (char c : text) {
            if (c == '\n')
                form += "\r\n";
            else
                form += c;
        }
        ASSERT_TRUE(dir.write_body(form).ok());
        for (const auto& [name, bytes] : attachments)
            ASSERT_TRUE(platform::write_file_atomic(dir.file(name), bytes).ok()) << name;
    }
};

class GeneratedMail {
public:
    explicit GeneratedMail(unsigned seed) : m_rng(seed) {}

    MailCase next(std::size_t max_attachment)
    {
        MailCase c;
        const bool japanese = pick(10) == 0;
        c.charset = compose::WordCharset{"UTF-8", japanese};
        m_japanese = japanese;
        c.from = address();
        c.fields.from = render(c.from);
        for (int n = 1 + pick(3); n > 0; --n)
            c.to.push_back(address());
        for (int n = pick(3); n > 0; --n)
            c.cc.push_back(address());
        c.fields.to = render_list(c.to);
        c.fields.cc = render_list(c.cc);
        if (pick(4) == 0)
            c.fields.bcc = render_list({address()});
        c.fields.subject = subject();
        const int lines = pick(40);
        for (int i = 0; i < lines; ++i)
            c.body += body_line() + "\n";
        const int count = pick(4) == 0 ? 0 : pick(3);
        static const char* const extensions[] = {".png", ".txt", ".bin", ".pdf", ""};
        static const char* const types[] = {"image/png", "text/plain", "application/octet-stream", "application/pdf",
                                            "application/octet-stream"};
        for (int i = 0; i < count; ++i) {
            const int e = pick(5);
            std::string name = word(false) + std::to_string(i) + extensions[e];
            if (pick(4) == 0)
                name = "Grüße \"" + std::to_string(i) + "\" 日本" + extensions[e];
            std::size_t size = pick(10) == 0 ? m_rng() % (max_attachment + 1) : m_rng() % 2000;
            if (pick(20) == 0)
                size = 0;
            std::string bytes(size, '\0');
            for (char& b : bytes)
                b = static_cast<char>(m_rng());
            c.attachments.emplace_back(name, std::move(bytes));
            c.types.push_back(types[e]);
        }
        // A message lists its attachments in the order of their names.
        std::vector<std::size_t> order(c.attachments.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return c.attachments[a].first < c.attachments[b].first; });
        MailCase sorted = c;
        for (std::size_t i = 0; i < order.size(); ++i) {
            sorted.attachments[i] = c.attachments[order[i]];
            sorted.types[i] = c.types[order[i]];
        }
        return sorted;
    }

private:
    int pick(int n) { return static_cast<int>(m_rng() % static_cast<unsigned>(n)); }

    std::string word(bool eight_bit)
    {
        static const char* const ascii[] = {"alpha", "Bravo", "charlie", "Delta", "echo",
                                            "x",     "mail",  "O'Neil",  "Zulu",  "re"};
        static const char* const utf8[] = {"Grüße",  "Jörg",   "Ünal", "façade", "Ελληνικά",
                                           "Москва", "日本語", "漢字", "😀",      "naïve"};
        static const char* const ja[] = {"会議", "日本語", "テスト", "お知らせ", "ｶﾀｶﾅ"};
        if (!eight_bit)
            return ascii[pick(10)];
        if (m_japanese)
            return ja[pick(4)];  // half-width kana read back as full-width: left out here
        return utf8[pick(10)];
    }

    Address address()
    {
        static const char* const locals[] = {"ann", "bob.smith", "c_d", "e+tag", "x9"};
        static const char* const domains[] = {"example.org", "mail.example.net", "x.test"};
        Address a;
        a.address = std::string(locals[pick(5)]) + std::to_string(pick(1000)) + "@" + domains[pick(3)];
        const int kind = pick(5);
        if (kind == 0)
            return a;
        const int words = 1 + pick(3);
        for (int i = 0; i < words; ++i) {
            if (i)
                a.name += " ";
            a.name += word(pick(2) == 0);
        }
        if (kind == 1)
            a.name += ", Jr.";
        if (kind == 2 && !m_japanese)
            a.name += " \"the\" \\ one";
        return a;
    }

    static std::string render(const Address& a)
    {
        if (a.name.empty())
            return a.address;
        bool plain = true;
        for (unsigned char ch : a.name) {
            if (!(ch >= 0x80 || ch == ' ' || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                  (ch >= '0' && ch <= '9')))
                plain = false;
        }
        if (plain)
            return a.name + " <" + a.address + ">";
        std::string quoted = "\"";
        for (char ch : a.name) {
            if (ch == '"' || ch == '\\')
                quoted += '\\';
            quoted += ch;
        }
        return quoted + "\" <" + a.address + ">";
    }

    static std::string render_list(const std::vector<Address>& list)
    {
        std::string out;
        for (const Address& a : list) {
            if (!out.empty())
                out += ", ";
            out += render(a);
        }
        return out;
    }

    std::string subject()
    {
        std::string s;
        if (pick(5) == 0)
            s = "Re: ";
        const int words = pick(8) == 0 ? 40 + pick(40) : 1 + pick(8);
        for (int i = 0; i < words; ++i) {
            if (i)
                s += pick(10) == 0 ? ", " : " ";
            s += word(pick(3) == 0);
            if (pick(10) == 0)
                s += m_japanese ? "!" : "(x)";
        }
        return s;
    }

    std::string body_line()
    {
        switch (pick(12)) {
        case 0:
            return "";
        case 1:
            return ".";
        case 2:
            return ".starts with a dot";
        case 3:
            return "From the start";
        case 4: {
            std::string s;
            while (s.size() < 1200)
                s += word(pick(4) == 0) + " ";
            return s;
        }
        default: {
            std::string s;
            for (int n = 1 + pick(12); n > 0; --n)
                s += (s.empty() ? "" : " ") + word(pick(4) == 0);
            if (pick(8) == 0)
                s += "  ";
            return s;
        }
        }
    }

    std::mt19937 m_rng;
    bool m_japanese = false;
};

inline std::string json_string(std::string_view s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The text as a reader gets it: in a multipart message the line end before
// the next boundary belongs to the boundary.
inline std::string text_read_back(const MailCase& c)
{
    if (c.attachments.empty() || c.body.empty())
        return c.body;
    return c.body.substr(0, c.body.size() - 1);
}

inline std::string json_addresses(const std::vector<Address>& list)
{
    std::string out = "[";
    for (const Address& a : list) {
        if (out.size() > 1)
            out += ",";
        out += "[" + json_string(a.name) + "," + json_string(a.address) + "]";
    }
    return out + "]";
}

// Writes what a reader must find in <dir>/<n>.eml beside it: <n>.expect.json
// and the attachments as <n>.att<k>.
inline void write_expectation(const MailCase& c, const std::string& dir, std::size_t n)
{
    const std::string base = dir + "/" + std::to_string(n);
    std::string json = "{\"from\":" + json_addresses({c.from}) + ",\"to\":" + json_addresses(c.to) +
                       ",\"cc\":" + json_addresses(c.cc) + ",\"subject\":" + json_string(c.fields.subject) +
                       ",\"body\":" + json_string(text_read_back(c)) + ",\"attachments\":[";
    for (std::size_t k = 0; k < c.attachments.size(); ++k) {
        const std::string file = base + ".att" + std::to_string(k);
        ASSERT_TRUE(platform::write_file_atomic(file, c.attachments[k].second).ok());
        json += (k ? "," : "") + std::string("[") + json_string(c.attachments[k].first) + "," + json_string(file) +
                "," + json_string(c.types[k]) + "]";
    }
    json += "]}";
    ASSERT_TRUE(platform::write_file_atomic(base + ".expect.json", json).ok());
}

// Runs the reference reader over <dir>/0.eml .. <count-1>.eml; returns its
// report, one line per message ("<n> OK" or "<n> FAIL ...").
inline std::vector<std::string> python_reading(const std::string& script, const std::string& dir, std::size_t count)
{
    std::vector<std::string> lines;
    const std::string command = "/usr/bin/python3 '" + script + "' '" + dir + "' " + std::to_string(count);
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return lines;
    std::string output;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    ::pclose(pipe);
    std::size_t start = 0;
    while (start < output.size()) {
        const std::size_t end = output.find('\n', start);
        lines.push_back(output.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

}  // namespace corvane::testing
