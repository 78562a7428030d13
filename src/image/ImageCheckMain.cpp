// q218-image-check <input.txt> [<output.cpp>]
// Checks the image input against every rule the download relies on and prints each broken
// rule as "file:line: rule: detail". With an output path and a sound input it writes the C++
// table that Image_Build copies. Exit status 0 when the input is sound, 1 when not, 2 on a
// usage or file error; a failed check writes no output, so the build stops.

#include <iostream>

#include "image/ImageCheck.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: q218-image-check <input.txt> [<output.cpp>]\n";
        return 2;
    }
    return q218::ImageCheckRun(argv[1], argc == 3 ? argv[2] : "", std::cerr);
}
