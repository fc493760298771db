// fault_matrix [OPERATIONS]: the full fault matrix (1000 operations a cell
// by default, paced at 9600 baud, default line settings); prints the table.
// Exit status 1 when any cell accepted a wrong value.
#include <cstdlib>

#include "FaultMatrix.h"

int main(int argc, char** argv) {
    zarvik::testing::MatrixOptions options;
    if (argc > 1) options.operations = std::atoi(argv[1]);
    const auto results = zarvik::testing::RunMatrix(zarvik::testing::AllMatrixCells(), options);
    for (const auto& r : results)
        if (r.wrong != 0) return 1;
    return 0;
}
