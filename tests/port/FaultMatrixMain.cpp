// fault_matrix [OPERATIONS [NAME]]: the full fault matrix (1000 operations a
// cell by default, paced at 9600 baud, default line settings), or only the
// cells whose name holds NAME; prints the table.
// Exit status 1 when any cell accepted a wrong value.
#include <cstdlib>
#include <string>
#include <vector>

#include "FaultMatrix.h"

int main(int argc, char** argv) {
    zarvik::testing::MatrixOptions options;
    if (argc > 1) options.operations = std::atoi(argv[1]);
    auto cells = zarvik::testing::AllMatrixCells();
    if (argc > 2) std::erase_if(cells, [&](const auto& c) { return c.Name().find(argv[2]) == std::string::npos; });
    const auto results = zarvik::testing::RunMatrix(cells, options);
    for (const auto& r : results)
        if (r.wrong != 0) return 1;
    return 0;
}
