#include "midi/reset_tables.h"

#include "core/instruments.h"
#include "core/sound.h"
#include "engine/channel_stage.h"
#include "engine/channels.h"
#include "engine/scope.h"
#include "engine/tone_tables.h"
#include "engine/voice_table.h"
#include "midi/midi_port.h"

void reset_tables() {
    reset_bindings();
    fill_tab_pan();
    fill_inote();
    reset_channel_tables();
    reset_voice_table();
    reset_sound_tables();
    clear_inst_names();
    scope_clear();
    stage_reset();
}
