// verify_set LIST: for each line "ID<TAB>PROGRAM<TAB>PASSWORD<TAB>OTHER" of
// LIST, starts PROGRAM, types PASSWORD and expects the success box, types
// OTHER and expects the failure box, closes it and expects exit code 0.
// Prints "ID ok" or "ID <what went wrong>" for each.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "program_driver.h"

static std::string Verify(const std::string &path, const std::string &password, const std::string &other)
{
    Program program;
    if (!program.Start(path))
        return "no window";
    program.Post(password + "\r");
    std::string caption = program.Answer();
    if (caption != kSuccessCaption)
        return "its own password: expected the success box, got \"" + caption + "\"";
    program.Post(other + "\r");
    caption = program.Answer();
    if (caption != kFailureCaption)
        return "another's password: expected the failure box, got \"" + caption + "\"";
    DWORD code = program.Close();
    return code == 0 ? "ok" : "exit code " + std::to_string(code);
}

int main(int argc, char **argv)
{
    std::ifstream list(argc == 2 ? argv[1] : "");
    if (!list)
        return 2;
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream fields(line);
        std::string id, path, password, other;
        if (std::getline(fields, id, '\t') && std::getline(fields, path, '\t')
            && std::getline(fields, password, '\t') && std::getline(fields, other)) {
            printf("%s %s\n", id.c_str(), Verify(path, password, other).c_str());
            fflush(stdout);
        }
    }
    return 0;
}
