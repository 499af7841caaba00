// ball-scene-clip OUT.avi [WIDTH HEIGHT]: writes the ball scene of the tests as a clip,
// for pictures of the difference composite (docs/make-screenshots.sh).

#include <cstdio>
#include <cstdlib>

#include "ball_scene.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: ball-scene-clip OUT.avi [WIDTH HEIGHT]\n");
        return 2;
    }
    tambrel::compose_cli::testing::BallScene scene;
    if (argc == 4) {
        scene.width = std::atoi(argv[2]);
        scene.height = std::atoi(argv[3]);
        if (scene.width < 64 || scene.height < 32 || scene.width > 4096 || scene.height > 4096) {
            std::fprintf(stderr, "ball-scene-clip: a size from 64 x 32 to 4096 x 4096\n");
            return 2;
        }
    }
    if (!scene.write(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "ball-scene-clip: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
