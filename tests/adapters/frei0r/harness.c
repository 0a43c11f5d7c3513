/* A frei0r host in plain C, as small as the interface allows, for the
 * adapters.
 *
 *   frei0r-harness ADAPTER...            load each, list its parameters and
 *                                        render odd sizes with every
 *                                        parameter at its corners
 *   frei0r-harness --threads ADAPTER     two instances updated from two
 *                                        threads equal one after the other
 *   frei0r-harness --docs FILE ADAPTER...          check the parameter tables
 *   frei0r-harness --docs FILE --update ADAPTER... rewrite them
 *
 * Exit status 0 when everything held, 1 otherwise. */
#include <frei0r.h>

#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  void* module;
  const char* path;
  int (*init)(void);
  void (*deinit)(void);
  void (*get_plugin_info)(f0r_plugin_info_t*);
  void (*get_param_info)(f0r_param_info_t*, int);
  f0r_instance_t (*construct)(unsigned int, unsigned int);
  void (*destruct)(f0r_instance_t);
  void (*set_param_value)(f0r_instance_t, f0r_param_t, int);
  void (*get_param_value)(f0r_instance_t, f0r_param_t, int);
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*);
  void (*update2)(f0r_instance_t, double, const uint32_t*, const uint32_t*, const uint32_t*, uint32_t*);
  f0r_plugin_info_t info;
} Adapter;

static int failures = 0;

static void Fail(const char* path, const char* what) {
  fprintf(stderr, "FAIL %s: %s\n", path, what);
  ++failures;
}

/* Every one of the ten functions must be there. */
static int Load(Adapter* a, const char* path) {
  memset(a, 0, sizeof *a);
  a->path = path;
  a->module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!a->module) {
    Fail(path, dlerror());
    return 0;
  }
#define SYM(field, name)                             \
  *(void**)(&a->field) = dlsym(a->module, name);     \
  if (!a->field) {                                   \
    Fail(path, "missing " name);                     \
    return 0;                                        \
  }
  SYM(init, "f0r_init");
  SYM(deinit, "f0r_deinit");
  SYM(get_plugin_info, "f0r_get_plugin_info");
  SYM(get_param_info, "f0r_get_param_info");
  SYM(construct, "f0r_construct");
  SYM(destruct, "f0r_destruct");
  SYM(set_param_value, "f0r_set_param_value");
  SYM(get_param_value, "f0r_get_param_value");
  SYM(update, "f0r_update");
  SYM(update2, "f0r_update2");
#undef SYM
  if (a->init() != 1) Fail(path, "f0r_init failed");
  a->get_plugin_info(&a->info);
  if (a->info.color_model != F0R_COLOR_MODEL_RGBA8888) Fail(path, "not RGBA8888");
  if (a->info.num_params <= 0) Fail(path, "no parameters");
  return 1;
}

static void Unload(Adapter* a) {
  if (!a->module) return;
  a->deinit();
  dlclose(a->module);
  a->module = NULL;
}

/* Sets parameter i to its low (0) or high (1) corner. */
static void SetCorner(Adapter* a, f0r_instance_t inst, int i, int high) {
  f0r_param_info_t p;
  a->get_param_info(&p, i);
  double d = high ? 1.0 : 0.0;
  f0r_param_color_t c = {(float)d, (float)d, (float)d};
  /* Positions go beyond the frame at both ends. */
  f0r_param_position_t pos = {high ? 1.5 : -0.5, high ? 1.5 : -0.5};
  char* s = high ? "1" : "";
  switch (p.type) {
    case F0R_PARAM_BOOL:
    case F0R_PARAM_DOUBLE:
      a->set_param_value(inst, &d, i);
      break;
    case F0R_PARAM_COLOR:
      a->set_param_value(inst, &c, i);
      break;
    case F0R_PARAM_POSITION:
      a->set_param_value(inst, &pos, i);
      break;
    case F0R_PARAM_STRING:
      a->set_param_value(inst, &s, i);
      break;
  }
}

static void Pattern(uint32_t* frame, size_t n, uint32_t seed) {
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    frame[i] = seed;
  }
}

/* One frame of w x h: an instance with `corner` applied (-1 none; param
 * index * 2 + high; -2 every parameter low, -3 every parameter high). */
static void Render(Adapter* a, unsigned w, unsigned h, int corner, double time) {
  f0r_instance_t inst = a->construct(w, h);
  if (!inst) {
    Fail(a->path, "f0r_construct failed");
    return;
  }
  const size_t n = (size_t)w * h;
  uint32_t* in1 = malloc(n * 4);
  uint32_t* in2 = malloc(n * 4);
  uint32_t* out = malloc(n * 4);
  Pattern(in1, n, 1);
  Pattern(in2, n, 2);
  if (corner >= 0) SetCorner(a, inst, corner / 2, corner % 2);
  for (int i = 0; corner <= -2 && i < a->info.num_params; ++i) SetCorner(a, inst, i, corner == -3);
  if (a->info.plugin_type == F0R_PLUGIN_TYPE_MIXER2)
    a->update2(inst, time, in1, in2, NULL, out);
  else
    a->update(inst, time, a->info.plugin_type == F0R_PLUGIN_TYPE_SOURCE ? NULL : in1, out);
  a->destruct(inst);
  free(in1);
  free(in2);
  free(out);
}

static void Corners(const char* path) {
  Adapter a;
  if (!Load(&a, path)) return;
  printf("%s: %s, %d parameters\n", path, a.info.name, a.info.num_params);
  for (int i = 0; i < a.info.num_params; ++i) {
    f0r_param_info_t p;
    a.get_param_info(&p, i);
    printf("  %2d %-28s type %d  %s\n", i, p.name, p.type, p.explanation);
  }
  static const unsigned sizes[][2] = {{1, 1}, {7, 5}, {33, 17}};
  for (int s = 0; s < 3; ++s) {
    Render(&a, sizes[s][0], sizes[s][1], -1, 0.0);
    Render(&a, sizes[s][0], sizes[s][1], -2, 0.5);
    Render(&a, sizes[s][0], sizes[s][1], -3, 1.5);
  }
  for (int c = 0; c < 2 * a.info.num_params; ++c) Render(&a, 7, 5, c, 0.25);
  Unload(&a);
}

/* --threads: two instances at once against the same two one after the other. */
typedef struct {
  Adapter* a;
  f0r_instance_t inst;
  const uint32_t* in;
  uint32_t* out;
  int frames;
} Job;

static void* RunJob(void* arg) {
  Job* j = arg;
  for (int f = 0; f < j->frames; ++f) j->a->update(j->inst, f * 0.04, j->in, j->out);
  return NULL;
}

static void Threads(const char* path) {
  Adapter a;
  if (!Load(&a, path)) return;
  const unsigned w = 160, h = 90;
  const size_t n = (size_t)w * h;
  uint32_t* in = malloc(n * 4);
  uint32_t* out[4];
  Pattern(in, n, 3);
  /* The first number parameter tells the instances apart. */
  int number = 0;
  for (int i = 0; i < a.info.num_params && !number; ++i) {
    f0r_param_info_t p;
    a.get_param_info(&p, i);
    if (p.type == F0R_PARAM_DOUBLE) number = i;
  }
  f0r_instance_t inst[4];
  for (int i = 0; i < 4; ++i) {
    out[i] = calloc(n, 4);
    inst[i] = a.construct(w, h);
    if (!inst[i]) {
      Fail(path, "f0r_construct failed");
      return;
    }
    /* Instances 0 and 2 at one value, 1 and 3 at another. */
    double v = i % 2 ? 0.5 : 0.501;
    a.set_param_value(inst[i], &v, number);
  }
  Job jobs[4];
  for (int i = 0; i < 4; ++i) jobs[i] = (Job){&a, inst[i], in, out[i], 12};
  RunJob(&jobs[0]);
  RunJob(&jobs[1]);
  pthread_t t2, t3;
  pthread_create(&t2, NULL, RunJob, &jobs[2]);
  pthread_create(&t3, NULL, RunJob, &jobs[3]);
  pthread_join(t2, NULL);
  pthread_join(t3, NULL);
  if (memcmp(out[0], out[2], n * 4) != 0 || memcmp(out[1], out[3], n * 4) != 0)
    Fail(path, "instances updated from two threads differ from the same updated one after the other");
  if (memcmp(out[0], out[1], n * 4) == 0) Fail(path, "the two settings gave the same frame; the check proves nothing");
  for (int i = 0; i < 4; ++i) {
    a.destruct(inst[i]);
    free(out[i]);
  }
  free(in);
  Unload(&a);
}

/* --docs: the table of every adapter's parameters, between two marker lines. */
static const char kBegin[] = "<!-- frei0r parameters: made by scripts/update-docs; do not edit -->\n";
static const char kEnd[] = "<!-- end of frei0r parameters -->\n";

static void Append(char** text, size_t* len, const char* s) {
  const size_t n = strlen(s);
  *text = realloc(*text, *len + n + 1);
  memcpy(*text + *len, s, n + 1);
  *len += n;
}

static const char* TypeName(int type) {
  static const char* const names[] = {"bool", "double", "color", "position", "string"};
  return type >= 0 && type <= 4 ? names[type] : "?";
}

static void Tables(int count, char** paths, char** text, size_t* len) {
  char line[1024];
  for (int k = 0; k < count; ++k) {
    Adapter a;
    if (!Load(&a, paths[k])) continue;
    const char* base = strrchr(paths[k], '/');
    f0r_instance_t inst = a.construct(16, 16);
    snprintf(line, sizeof line, "\n### %s: %s\n\n| # | Name | Type | Default | Meaning |\n|---|---|---|---|---|\n",
             base ? base + 1 : paths[k], a.info.name);
    Append(text, len, line);
    for (int i = 0; i < a.info.num_params; ++i) {
      f0r_param_info_t p;
      a.get_param_info(&p, i);
      char dflt[128] = "";
      double d = 0;
      f0r_param_color_t c = {0, 0, 0};
      f0r_param_position_t pos = {0, 0};
      char* s = NULL;
      switch (p.type) {
        case F0R_PARAM_BOOL:
          a.get_param_value(inst, &d, i);
          snprintf(dflt, sizeof dflt, "%s", d >= 0.5 ? "on" : "off");
          break;
        case F0R_PARAM_DOUBLE:
          a.get_param_value(inst, &d, i);
          snprintf(dflt, sizeof dflt, "%.6g", d);
          break;
        case F0R_PARAM_COLOR:
          a.get_param_value(inst, &c, i);
          snprintf(dflt, sizeof dflt, "%.4g/%.4g/%.4g", c.r, c.g, c.b);
          break;
        case F0R_PARAM_POSITION:
          a.get_param_value(inst, &pos, i);
          snprintf(dflt, sizeof dflt, "%.4g/%.4g", pos.x, pos.y);
          break;
        case F0R_PARAM_STRING:
          a.get_param_value(inst, &s, i);
          snprintf(dflt, sizeof dflt, "%s", s ? s : "");
          break;
      }
      snprintf(line, sizeof line, "| %d | %s | %s | %s | %s |\n", i, p.name, TypeName(p.type), dflt, p.explanation);
      Append(text, len, line);
    }
    a.destruct(inst);
    Unload(&a);
  }
}

static int Docs(const char* file, int update, int count, char** paths) {
  FILE* f = fopen(file, "rb");
  if (!f) {
    fprintf(stderr, "cannot read %s\n", file);
    return 1;
  }
  char* doc = NULL;
  size_t len = 0;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf - 1, f)) > 0;) {
    buf[n] = 0;
    Append(&doc, &len, buf);
  }
  fclose(f);
  char* begin = doc ? strstr(doc, kBegin) : NULL;
  char* end = begin ? strstr(begin, kEnd) : NULL;
  if (!end) {
    fprintf(stderr, "%s: no parameter table markers\n", file);
    return 1;
  }
  char* table = NULL;
  size_t table_len = 0;
  Append(&table, &table_len, kBegin);
  Tables(count, paths, &table, &table_len);
  Append(&table, &table_len, "\n");
  Append(&table, &table_len, kEnd);
  const size_t current = (size_t)(end - begin) + strlen(kEnd);
  int status = 0;
  if (current != table_len || memcmp(begin, table, table_len) != 0) {
    if (!update) {
      fprintf(stderr, "%s: the frei0r parameter tables differ from the adapters; run scripts/update-docs\n", file);
      status = 1;
    } else {
      f = fopen(file, "wb");
      if (!f || fwrite(doc, 1, (size_t)(begin - doc), f) != (size_t)(begin - doc) ||
          fwrite(table, 1, table_len, f) != table_len || fputs(end + strlen(kEnd), f) < 0 || fclose(f) != 0) {
        fprintf(stderr, "cannot write %s\n", file);
        status = 1;
      } else {
        printf("updated %s\n", file);
      }
    }
  }
  free(doc);
  free(table);
  return status || failures;
}

int main(int argc, char** argv) {
  if (argc >= 3 && strcmp(argv[1], "--threads") == 0) {
    for (int i = 2; i < argc; ++i) Threads(argv[i]);
  } else if (argc >= 4 && strcmp(argv[1], "--docs") == 0) {
    const int update = strcmp(argv[3], "--update") == 0;
    return Docs(argv[2], update, argc - 3 - update, argv + 3 + update);
  } else if (argc >= 2) {
    for (int i = 1; i < argc; ++i) Corners(argv[i]);
  } else {
    fprintf(stderr, "usage: frei0r-harness [--threads | --docs FILE [--update]] ADAPTER...\n");
    return 2;
  }
  if (failures) fprintf(stderr, "%d failure(s)\n", failures);
  return failures ? 1 : 0;
}
