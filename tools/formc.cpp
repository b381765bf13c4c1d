// Form definition compiler, run at build time.
//
//   formc INPUT.dfm OUTPUT            text definition -> binary form stream
//   formc --to-text INPUT.bin OUTPUT  binary form stream -> text definition
//
// On any error the message goes to stderr, the exit code is 1 and OUTPUT is
// left as it was: the result is written to a temporary file beside it and
// renamed into place only once complete.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "FormStream.h"
#include "FormText.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path + " for reading");
    std::ostringstream data;
    data << in.rdbuf();
    if (in.bad())
        throw std::runtime_error("cannot read " + path);
    return data.str();
}

void WriteFileAtomically(const std::string& path, const std::string& data)
{
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            throw std::runtime_error("cannot open " + temp + " for writing");
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            out.close();
            std::remove(temp.c_str());
            throw std::runtime_error("cannot write " + temp);
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::remove(temp.c_str());
        throw std::runtime_error("cannot rename " + temp + " to " + path + ": " + ec.message());
    }
}

int Usage()
{
    std::cerr << "usage: formc INPUT.dfm OUTPUT\n"
                 "       formc --to-text INPUT.bin OUTPUT.txt\n";
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    bool toText = argc == 4 && std::string(argv[1]) == "--to-text";
    bool compile = argc == 3 && std::string(argv[1]).rfind("--", 0) != 0;
    if (!compile && !toText)
        return Usage();
    const std::string input = argv[toText ? 2 : 1];
    const std::string output = argv[toText ? 3 : 2];
    try {
        const std::string data = ReadFile(input);
        std::string result;
        if (toText)
            result = formstream::WriteText(formstream::ReadBinary(data, input));
        else
            result = formstream::WriteBinary(formstream::ParseText(data, input));
        WriteFileAtomically(output, result);
    } catch (const std::exception& e) {
        std::cerr << "formc: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
