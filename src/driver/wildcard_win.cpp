// The arguments reach main() exactly as typed: the MinGW runtime would
// otherwise be free to expand "*" into the names of the files in the
// current folder, and "*" means every table.
extern "C" {
int _dowildcard = 0;
}
