// Plays one angle of a DVD title through libdvdnav, as a player does, and writes the blocks it
// plays to a file: what a reader of angles is judged by.
//   dvdnav_play DISC TITLE ANGLE OUTPUT
#include <dvdnav/dvdnav.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: dvdnav_play DISC TITLE ANGLE OUTPUT\n");
        return 2;
    }
    const int title = std::atoi(argv[2]);
    const int angle = std::atoi(argv[3]);
    dvdnav_t* nav = nullptr;
    if (dvdnav_open(&nav, argv[1]) != DVDNAV_STATUS_OK) {
        std::fprintf(stderr, "dvdnav_play: cannot open %s\n", argv[1]);
        return 1;
    }
    FILE* out = std::fopen(argv[4], "wb");
    if (out == nullptr || dvdnav_title_play(nav, title) != DVDNAV_STATUS_OK ||
        dvdnav_angle_change(nav, angle) != DVDNAV_STATUS_OK) {
        std::fprintf(stderr, "dvdnav_play: %s\n", dvdnav_err_to_string(nav));
        return 1;
    }
    std::vector<uint8_t> block(DVD_VIDEO_LB_LEN);
    int status = 1;
    // A title plays its blocks in far fewer steps than this; a player stuck in a loop does not.
    for (long step = 0; step < 10'000'000; ++step) {
        int32_t event = 0;
        int32_t length = 0;
        if (dvdnav_get_next_block(nav, block.data(), &event, &length) != DVDNAV_STATUS_OK) {
            std::fprintf(stderr, "dvdnav_play: %s\n", dvdnav_err_to_string(nav));
            break;
        }
        if (event == DVDNAV_BLOCK_OK) {
            std::fwrite(block.data(), 1, static_cast<size_t>(length), out);
        } else if (event == DVDNAV_STILL_FRAME) {
            dvdnav_still_skip(nav);
        } else if (event == DVDNAV_WAIT) {
            dvdnav_wait_skip(nav);
        } else if (event == DVDNAV_STOP) {
            status = 0;
            break;
        } else if (event == DVDNAV_CELL_CHANGE) {
            int32_t playing = 0;
            int32_t part = 0;
            // The title is over when play leaves it (for a menu, or the next title).
            if (dvdnav_is_domain_vts(nav) == 0 ||
                dvdnav_current_title_info(nav, &playing, &part) != DVDNAV_STATUS_OK ||
                playing != title) {
                status = 0;
                break;
            }
        }
    }
    std::fclose(out);
    dvdnav_close(nav);
    return status;
}
