// The page is built into the build tree, where `ombrix studio` serves it
// from: OMBRIX_STUDIO_WEB_OUT names the folder (scripts/build sets it).
import { defineConfig } from 'vite';
import { fileURLToPath } from 'node:url';
import path from 'node:path';

const here = path.dirname(fileURLToPath(import.meta.url));

export default defineConfig({
  root: here,
  base: './',
  build: {
    outDir: process.env.OMBRIX_STUDIO_WEB_OUT ?? path.resolve(here, '../../../../build/studio/web'),
    emptyOutDir: true,
    target: 'es2020',
    sourcemap: false,
  },
});
