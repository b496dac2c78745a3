/* The OBJ peer for bench_obj_load: fast_obj_read on FILE, then its counts. fast_obj
 * builds no vertex buffer and removes no duplicate corners, so it does less than our
 * loader. Built from ../shared/anchors/fast_obj when that folder exists; never part
 * of Lumbrix.
 *
 *   anchor_fast_obj FILE
 *
 * Prints one line: {"triangles":N,"positions":N} (triangles of a fan over every face). */
#include <stdio.h>

#include "fast_obj.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: anchor_fast_obj FILE\n");
        return 2;
    }
    fastObjMesh* mesh = fast_obj_read(argv[1]);
    if (mesh == NULL) {
        fprintf(stderr, "anchor_fast_obj: cannot read %s\n", argv[1]);
        return 1;
    }
    unsigned long long triangles = 0;
    for (unsigned int f = 0; f < mesh->face_count; ++f) {
        if (mesh->face_vertices[f] >= 3) triangles += mesh->face_vertices[f] - 2;
    }
    /* position_count includes fast_obj's dummy entry at index 0. */
    printf("{\"triangles\":%llu,\"positions\":%u}\n", triangles, mesh->position_count - 1);
    fast_obj_destroy(mesh);
    return 0;
}
