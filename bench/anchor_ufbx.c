/* The FBX peer for bench_fbx_load: ufbx loads FILE and every face is triangulated
 * into unshared vertices, position and UV per corner, in world space, as our import
 * does. Built from ../shared/anchors/ufbx when that folder exists; never part of
 * Lumbrix.
 *
 *   anchor_ufbx [--lean] FILE
 *
 * Default: the same output as our import, a 48-byte record per corner (position,
 * UV with V flipped, the default normal, in our GPU layout) and a 32-bit index per
 * corner. --lean: 20 bytes per corner (x y z u v) and no index list, the least a
 * renderer could take. Prints one line: {"triangles":N,"vertices":N}. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ufbx.h"

typedef struct {
    float position[3];
    float positionPad;
    float uv[2];
    float uvPad[2];
    float normal[3];
    float normalPad;
} Vertex48;

typedef struct {
    float x, y, z, u, v;
} Vertex20;

int main(int argc, char** argv) {
    int lean = 0;
    const char* path = NULL;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--lean") == 0) lean = 1;
        else path = argv[i];
    }
    if (path == NULL) {
        fprintf(stderr, "usage: anchor_ufbx [--lean] FILE\n");
        return 2;
    }

    ufbx_load_opts opts;
    memset(&opts, 0, sizeof opts);
    ufbx_error error;
    ufbx_scene* scene = ufbx_load_file(path, &opts, &error);
    if (scene == NULL) {
        fprintf(stderr, "anchor_ufbx: %s\n", error.description.data);
        return 1;
    }

    size_t corners = 0;
    for (size_t m = 0; m < scene->meshes.count; ++m) corners += scene->meshes.data[m]->num_triangles * 3;
    Vertex48* vertices = NULL;
    uint32_t* indices = NULL;
    Vertex20* lean20 = NULL;
    if (lean) {
        lean20 = (Vertex20*)malloc(corners * sizeof(Vertex20) + 1);
    } else {
        vertices = (Vertex48*)malloc(corners * sizeof(Vertex48) + 1);
        indices = (uint32_t*)malloc(corners * sizeof(uint32_t) + 1);
    }
    if ((lean && !lean20) || (!lean && (!vertices || !indices))) {
        fprintf(stderr, "anchor_ufbx: out of memory\n");
        return 1;
    }

    size_t written = 0;
    for (size_t m = 0; m < scene->meshes.count; ++m) {
        const ufbx_mesh* mesh = scene->meshes.data[m];
        const ufbx_matrix toWorld =
            mesh->instances.count > 0 ? mesh->instances.data[0]->geometry_to_world : ufbx_identity_matrix;
        const size_t room = mesh->max_face_triangles * 3;
        uint32_t* tri = (uint32_t*)malloc((room ? room : 1) * sizeof(uint32_t));
        if (!tri) return 1;
        const int hasUV = mesh->vertex_uv.exists;
        for (size_t f = 0; f < mesh->faces.count; ++f) {
            const uint32_t triangles = ufbx_triangulate_face(tri, room, mesh, mesh->faces.data[f]);
            for (uint32_t k = 0; k < triangles * 3; ++k) {
                const uint32_t ix = tri[k];
                const ufbx_vec3 p = ufbx_transform_position(&toWorld, ufbx_get_vertex_vec3(&mesh->vertex_position, ix));
                ufbx_vec2 uv;
                uv.x = uv.y = 0;
                if (hasUV) uv = ufbx_get_vertex_vec2(&mesh->vertex_uv, ix);
                if (lean) {
                    Vertex20* v = &lean20[written];
                    v->x = (float)p.x;
                    v->y = (float)p.y;
                    v->z = (float)p.z;
                    v->u = (float)uv.x;
                    v->v = 1.0f - (float)uv.y;
                } else {
                    Vertex48 v;
                    v.position[0] = (float)p.x;
                    v.position[1] = (float)p.y;
                    v.position[2] = (float)p.z;
                    v.positionPad = 0.0f;
                    v.uv[0] = (float)uv.x;
                    v.uv[1] = 1.0f - (float)uv.y;
                    v.uvPad[0] = v.uvPad[1] = 0.0f;
                    v.normal[0] = 0.0f;
                    v.normal[1] = 1.0f;
                    v.normal[2] = 0.0f;
                    v.normalPad = 0.0f;
                    vertices[written] = v;
                    indices[written] = (uint32_t)written;
                }
                ++written;
            }
        }
        free(tri);
    }
    printf("{\"triangles\":%zu,\"vertices\":%zu}\n", written / 3, written);
    free(vertices);
    free(indices);
    free(lean20);
    ufbx_free_scene(scene);
    return 0;
}
