#include <stdio.h>

#include "VexoDLL.h"

int main(void) {
    unsigned char bytes[16];
    int i;

    if (!cVexoOpen()) {
        fprintf(stderr, "cannot open the VexoLite card\n");
        return 1;
    }
    if (!cVexoReadBlockByte(VEXO_INTMEM_BLOCK1, bytes, sizeof bytes)) {
        fprintf(stderr, "read failed\n");
        cVexoClose();
        return 1;
    }
    for (i = 0; i < 16; i++) printf("%02X ", bytes[i]);
    printf("\n");
    cVexoClose();
    return 0;
}
