// Writes the crash model's run through the real editor controller: crash_writer SEED START LIMIT.
// START is the number of writes the store already holds (the file state left by a killed run);
// the writer goes on to write LIMIT. After each completed write it prints the write's number.
#include "crashmodel.h"

#include "editor/viewcontroller.h"
#include "store/defaults.h"
#include "store/keys.h"

#include <QApplication>
#include <QLineEdit>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// Straight to the pipe: a line printed is a write done, whenever the kill comes.
void report(std::uint64_t write)
{
    char line[32];
    const int n =
        std::snprintf(line, sizeof line, "%llu\n", static_cast<unsigned long long>(write));
    if (::write(STDOUT_FILENO, line, std::size_t(n)) != n)
        std::_Exit(4);
}

[[noreturn]] void giveUp(const char *why)
{
    std::fprintf(stderr, "crash_writer: %s\n", why);
    std::_Exit(3);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        giveUp("usage: crash_writer SEED START LIMIT");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::uint64_t seed = std::strtoull(argv[1], nullptr, 10);
    std::uint64_t written = std::strtoull(argv[2], nullptr, 10);
    const std::uint64_t limit = std::strtoull(argv[3], nullptr, 10);
    QApplication app(argc, argv);

    Defaults defaults(Defaults::standardFilePath());
    ViewController editor(defaults);
    editor.loadViewIfNeeded();
    QObject::connect(&defaults, &Defaults::didChange, [&written] { report(++written); });
    // A store left between an operation's two writes was brought back to before the operation.
    if (written % 2 == 1 || editor.tableViewDat() != crash::arraysAfter(seed, written).names)
        giveUp("the editor does not show the names the store should hold");

    crash::Library library = crash::libraryAfter(seed, written / 2);
    for (std::uint64_t i = written / 2; written < limit; ++i) {
        const crash::Op op = crash::opAt(seed, i, library);
        if (op.add) {
            editor.nameFld()->setText(crash::nameOf(op.id));
            editor.setClipbStr(crash::bodyOf(seed, op.id));
            editor.add();
        } else {
            editor.nameFld()->setText(crash::nameOf(library[op.index]));
            editor.del();
        }
        crash::applyOp(op, library);
        if (written != 2 * (i + 1))
            giveUp("an operation did not make exactly two writes");
    }
    return 0;
}
