// The service tables handed to plug-ins, and the services they point to,
// each defined in the file of its concern.
#pragma once

#include <pf/api.h>

namespace ombrix {

// The service tables of one effect, filled once when it is loaded (each
// effect gets its own copy so that a plug-in scribbling over its table
// cannot disturb another).
struct ServiceTables {
  PF_UtilCallbacks utils;
  PF_InteractCallbacks inter;
  SPBasicSuite basic;
};
void InitServiceTables(ServiceTables& tables);

// iterate.cpp
PF_Err SvcIterate(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                  const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);

// memory_services.cpp: handles and basic-suite blocks
PF_Handle SvcNewHandle(A_u_long size);
void* SvcLockHandle(PF_Handle h);
void SvcUnlockHandle(PF_Handle h);
void SvcDisposeHandle(PF_Handle h);
A_u_long SvcGetHandleSize(PF_Handle h);
PF_Err SvcResizeHandle(A_u_long new_size, PF_Handle* hp);
SPErr BasicAllocateBlock(A_u_long size, void** block);
SPErr BasicFreeBlock(void* block);
SPErr BasicReallocateBlock(void* block, A_u_long new_size, void** new_block);

// suite_services.cpp: the basic suite's suite lookup
SPErr BasicAcquireSuite(const char* name, A_long version, const void** suite);
SPErr BasicReleaseSuite(const char* name, A_long version);

// interaction_services.cpp
PF_Err SvcAddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def);
PF_Err SvcCheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time, A_long time_step, A_u_long time_scale,
                        PF_ParamDef* param);
PF_Err SvcCheckinParam(PF_ProgPtr ref, PF_ParamDef* param);
PF_Err SvcAbort(PF_ProgPtr ref);
PF_Err SvcProgress(PF_ProgPtr ref, A_long current, A_long total);
PF_Err SvcRegisterUi(PF_ProgPtr ref, PF_CustomUIInfo* info);

// world_services.cpp
PF_Err SvcCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r);
PF_Err SvcFill(PF_ProgPtr ref, const PF_Pixel* color, const PF_Rect* dst_rect, PF_EffectWorld* world);
PF_Err SvcNewWorld(PF_ProgPtr ref, A_long width, A_long height, PF_WorldFlags flags, PF_EffectWorld* world);
PF_Err SvcDisposeWorld(PF_ProgPtr ref, PF_EffectWorld* world);

// pixel_services.cpp: sampling, colour, smoothing, callbacks and platform data
PF_Err SvcSubpixelSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel* dst);
PF_Err SvcAreaSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel* dst);
PF_Err SvcRgbToHls(PF_ProgPtr ref, PF_Pixel* rgb, PF_HLS_Pixel hls);
PF_Err SvcHlsToRgb(PF_ProgPtr ref, PF_HLS_Pixel hls, PF_Pixel* rgb);
PF_Err SvcGetCallbackAddr(PF_ProgPtr ref, PF_Quality quality, A_long flags, A_long which, void** fn_ptr);
PF_Err SvcGetPlatformData(PF_ProgPtr ref, A_long which, void* data);

}  // namespace ombrix
