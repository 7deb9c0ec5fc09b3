// statusicons <source dir>: writes the four status icons into <source dir>/resources/.
#include <cstdio>
#include <string>

#include "StatusIconGenerator.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        fprintf(stderr, "usage: statusicons <source dir>\n");
        return 2;
    }
    for (const StatusIcon& icon : drawStatusIcons()) {
        std::string path = std::string(argv[1]) + "/resources/" + icon.file;
        if (!writeStatusIcon(icon, path)) {
            fprintf(stderr, "statusicons: cannot write %s\n", path.c_str());
            return 1;
        }
        printf("statusicons: %s (%dx%d)\n", path.c_str(), icon.size, icon.size);
    }
    return 0;
}
