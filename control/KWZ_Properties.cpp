#include "control/KWZ_Properties.h"

namespace {

struct KeyEntry {
  const char16_t* key;
  LONG id;
};

// The family's shared key table. "tos", "video_tos" and "audio_tos" are one setting.
constexpr KeyEntry kKeys[] = {
    {u"draw_logo", 1},
    {u"enable_tunnel", 2},
    {u"enable_pck_reordering", 3},
    {u"enable_aec", 4},
    {u"activate_aec", 6},
    {u"init_aec", 5},
    {u"enable_vol_control_aec", 7},
    {u"deinit_aec", 8},
    {u"enable_fec", 9},
    {u"snapshot", 12},
    {u"snapshot_len", 13},
    {u"use_http_webcam", 14},
    {u"deinterlace", 15},
    {u"mirror_preview", 16},
    {u"vs_send_preview", 17},
    {u"enable_preview", 18},
    {u"vs_cbr", 19},
    {u"vr_sync", 21},
    {u"video_pck_lost", 22},
    {u"audio_pck_lost", 23},
    {u"vr_fullscreen_always_on", 24},
    {u"vr_disable_mc_loop", 25},
    {u"vr_sound_level", 26},
    {u"vr_mute", 27},
    {u"is_active", 28},
    {u"fs_loop", 32},
    {u"fr_loop", 33},
    {u"fr_play", 34},
    {u"vc_codec", 29},
    {u"vc_codec_rc", 30},
    {u"speaker_idx", 35},
    {u"speaker_name", 36},
    {u"tos", 10},
    {u"ttl", 11},
    {u"force_gdi", 31},
    {u"sender_throughput", 20},
    {u"deinit", 37},
    {u"save_preview", 38},
    {u"seek_pos", 39},
    {u"duration", 40},
    {u"video_tos", 10},
    {u"audio_tos", 10},
    {u"pck_lost", 41},
    {u"tunnel_rec_buffer", 42},
    {u"tunnel_snd_buffer", 43},
    {u"sender_nic", 44},
    {u"receiver_nic", 45},
    {u"tunnel_cc", 46},
    {u"t_rec_type", 47},
    {u"t_rec_config", 48},
    {u"tcp_tunnel_type", 49},
    {u"tcp_tunnel", 50},
    {u"tcp_tunnel_connect", 51},
    {u"tcp_tunnel_proxy", 52},
    {u"recording_status", 53},
    {u"draw_image", 54},
    {u"pause", 55},
    {u"status", 56},
    {u"ss_codec", 57},
    {u"ss_k_interval", 58},
    {u"ss_quality", 59},
    {u"ss_ext_input", 60},
    {u"ss_win_rect", 61},
    {u"ss_app_hwnd", 62},
    {u"ss_app_hwnd_not", 63},
    {u"ss_app_hwnd_em", 64},
    {u"g_enable_audio", 65},
    {u"g_audio_all", 66},
    {u"g_snd_nic", 67},
    {u"g_rcv_nic", 68},
    {u"g_send_dtmf", 69},
    {u"g_enable_video", 70},
    {u"g_start_streaming", 71},
    {u"run", 72},
    {u"cam_index", 73},
    {u"cam_num", 74},
    {u"cam_name", 75},
    {u"cam_config", 76},
    {u"save_image", 77},
    {u"jpg_file", 78},
    {u"do_training", 79},
    {u"face", 80},
    {u"no_face_time", 81},
    {u"no_face_reset", 82},
    {u"face_sleep_time", 83},
    {u"wm_push_address", 84},
    {u"wm_user", 85},
    {u"wm_password", 86},
    {u"st_cmd", 87},
    {u"st_stop", 88},
};

}  // namespace

KWZ_Properties::KWZ_Properties() {
  m_mapKeys.reserve(std::size(kKeys));
  for (const KeyEntry& entry : kKeys) m_mapKeys.emplace(entry.key, entry.id);
}

LONG KWZ_Properties::GetPropertyId(const std::u16string& key) const {
  const auto found = m_mapKeys.find(key);
  return found != m_mapKeys.end() ? found->second : 0;
}
