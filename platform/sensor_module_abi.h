/* The C interface of a sensor module. A module is a folder
 * "VelquorIntelSensorsV3.bundle" that holds "module.so", a shared object
 * exporting these three functions. Nothing else in the folder is read by the
 * host; a module may keep its own files there (the bundle path is passed to
 * the create function).
 *
 * The host loads module.so only when it is a regular file (not a symbolic
 * link) and both it and the bundle folder are owned by the user or root and
 * writable by nobody else. A module without all three functions has no
 * principal class: it is loaded but never called.
 *
 * The host calls an instance from one thread at a time. A module never lets
 * an exception out of a call (the host catches C++ exceptions at the boundary
 * and treats them as a failed call, but a module built without unwind tables
 * would end the process). */
#ifndef VELQUETTE_SENSOR_MODULE_ABI_H
#define VELQUETTE_SENSOR_MODULE_ABI_H

#ifdef __cplusplus
extern "C" {
#endif

#define VQ_SENSOR_MODULE_FILE "module.so"

/* Receives one fan: its name and its display-ready value ("1200rpm"). Both
 * strings are copied before the sink returns; NULL for either fails the
 * whole call. */
typedef void (*vq_fan_sink)(void* context, const char* name, const char* value);

/* Creates an instance; NULL when it cannot initialise. bundle_path is valid
 * only during the call. */
void* vq_sensor_module_create(const char* bundle_path);
/* Hands every fan to sink, in the module's order; 0 on success, anything
 * else when the fans could not be read (the values given so far are dropped). */
int vq_sensor_module_fan_values(void* instance, vq_fan_sink sink, void* context);
/* Releases an instance made by create; the host calls nothing on it after. */
void vq_sensor_module_destroy(void* instance);

#ifdef __cplusplus
}
#endif

#endif
