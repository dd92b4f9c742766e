// The machine's files and standard streams for the WebAssembly program, so
// that `npx kestrin` reads and writes exactly what the native program would:
// every top-level folder of the machine is mounted at its own name, the
// working folder is the process's, and descriptors 0, 1 and 2 are the
// process's own, unbuffered by JavaScript.
import fs from 'node:fs';

const errno = {
  EPERM: 63, ENOENT: 44, EIO: 29, EBADF: 8, EACCES: 2, EEXIST: 20, ENOTDIR: 54, EISDIR: 31,
  EINVAL: 28, EMFILE: 33, ENOSPC: 51, ESPIPE: 70, EROFS: 69, ENAMETOOLONG: 37, ENOTEMPTY: 55,
  ELOOP: 32, EFBIG: 22, EXDEV: 75, EBUSY: 10,
};
const O_ACCMODE = 3, O_CREAT = 64, O_EXCL = 128, O_TRUNC = 512, O_APPEND = 1024;
const SEEK_CUR = 1, SEEK_END = 2;

export function mountHost(module) {
  const { FS } = module;
  const failure = (error) => {
    if (!error || !error.code) return error;
    return new FS.ErrnoError(errno[error.code] ?? errno.EIO);
  };
  const attempt = (body) => {
    try {
      return body();
    } catch (error) {
      throw failure(error);
    }
  };
  const realPath = (node) => {
    const parts = [];
    while (node.parent !== node) {
      parts.push(node.name);
      node = node.parent;
    }
    parts.push(node.mount.opts.root);
    return parts.reverse().join('/');
  };

  const HOST = {
    mount: (mount) => HOST.createNode(null, '/', fs.statSync(mount.opts.root).mode),
    createNode: (parent, name, mode) => {
      const node = FS.createNode(parent, name, mode);
      node.node_ops = HOST.node_ops;
      node.stream_ops = HOST.stream_ops;
      return node;
    },
    node_ops: {
      getattr: (node) => {
        const s = attempt(() => fs.statSync(realPath(node)));
        return {
          dev: s.dev, ino: s.ino, mode: s.mode, nlink: s.nlink, uid: s.uid, gid: s.gid, rdev: s.rdev,
          size: s.size, atime: s.atime, mtime: s.mtime, ctime: s.ctime, blksize: s.blksize,
          blocks: s.blocks,
        };
      },
      setattr: (node, attr) => {
        const path = realPath(node);
        attempt(() => {
          if (attr.mode !== undefined) fs.chmodSync(path, attr.mode);
          if (attr.size !== undefined) fs.truncateSync(path, attr.size);
          if (attr.timestamp !== undefined) fs.utimesSync(path, new Date(attr.timestamp), new Date(attr.timestamp));
        });
      },
      lookup: (parent, name) => {
        const mode = attempt(() => fs.statSync(`${realPath(parent)}/${name}`).mode);
        return HOST.createNode(parent, name, mode);
      },
      mknod: (parent, name, mode) => {
        const path = `${realPath(parent)}/${name}`;
        attempt(() => (FS.isDir(mode) ? fs.mkdirSync(path, mode) : fs.writeFileSync(path, '', { mode })));
        return HOST.createNode(parent, name, mode);
      },
      rename: (node, dir, name) => {
        attempt(() => fs.renameSync(realPath(node), `${realPath(dir)}/${name}`));
        node.name = name;
        node.parent = dir;
      },
      unlink: (parent, name) => attempt(() => fs.unlinkSync(`${realPath(parent)}/${name}`)),
      rmdir: (parent, name) => attempt(() => fs.rmdirSync(`${realPath(parent)}/${name}`)),
      readdir: (node) => attempt(() => ['.', '..', ...fs.readdirSync(realPath(node))]),
      readlink: () => {
        throw new FS.ErrnoError(errno.EINVAL);
      },
    },
    stream_ops: {
      open: (stream) => {
        if (!FS.isFile(stream.node.mode)) return;
        // Creating and truncating again is harmless, and right when a file was
        // removed behind the cached node.
        const flags = stream.flags & (O_ACCMODE | O_APPEND | O_CREAT | O_TRUNC);
        stream.hostFd = attempt(() => fs.openSync(realPath(stream.node), flags));
      },
      close: (stream) => {
        if (stream.hostFd !== undefined) attempt(() => fs.closeSync(stream.hostFd));
      },
      read: (stream, buffer, offset, length, position) => {
        if (length === 0) return 0;
        return attempt(() => fs.readSync(stream.hostFd, buffer, offset, length, position));
      },
      write: (stream, buffer, offset, length, position) =>
        attempt(() => fs.writeSync(stream.hostFd, buffer, offset, length, position)),
      fsync: (stream) => {
        if (stream.hostFd !== undefined) attempt(() => fs.fsyncSync(stream.hostFd));
        return 0;
      },
      llseek: (stream, offset, whence) => {
        let position = offset;
        if (whence === SEEK_CUR) position += stream.position;
        else if (whence === SEEK_END && FS.isFile(stream.node.mode))
          position += attempt(() => fs.fstatSync(stream.hostFd).size);
        if (position < 0) throw new FS.ErrnoError(errno.EINVAL);
        return position;
      },
    },
  };

  // A file removed on the machine drops out of the names the file system keeps.
  const lookupNode = FS.lookupNode;
  FS.lookupNode = (parent, name) => {
    const node = lookupNode(parent, name);
    if (node.node_ops !== HOST.node_ops || fs.existsSync(realPath(node))) return node;
    FS.destroyNode(node);
    return lookupNode(parent, name);
  };

  for (const name of fs.readdirSync('/')) {
    if (name === 'dev' || name === 'proc') continue;
    let isDir = false;
    try {
      isDir = fs.statSync(`/${name}`).isDirectory();
    } catch {
      continue;
    }
    if (!isDir) continue;
    try {
      FS.mkdir(`/${name}`);
    } catch {
      // the in-memory file system has it already (/tmp, /home)
    }
    FS.mount(HOST, { root: `/${name}` }, `/${name}`);
  }
  FS.chdir(process.cwd());
  const mask = process.umask(0);
  process.umask(mask);
  module._kestrin_umask(mask);

  // Descriptors 0, 1 and 2 as the process's, byte for byte: one device each,
  // so that a descriptor opened again (dup) reaches the same one.
  for (const [fd, name] of [[0, 'stdin'], [1, 'stdout'], [2, 'stderr']]) {
    const device = FS.makedev(64, fd);
    FS.registerDevice(device, {
      read: (stream, buffer, offset, length) => {
        try {
          return fs.readSync(fd, buffer, offset, length, null);
        } catch (error) {
          if (error.code === 'EOF') return 0;
          if (error.code === 'EAGAIN') return waitForInput(buffer, offset, length);
          throw failure(error);
        }
      },
      write: (stream, buffer, offset, length) => attempt(() => fs.writeSync(fd, buffer, offset, length)),
    });
    FS.mkdev(`/dev/host-${name}`, device);
    const old = FS.getStream(fd);
    if (old) FS.close(old);
    FS.open(`/dev/host-${name}`, fd === 0 ? 0 : 1, 0, fd, fd);
  }
}

// Standard input in non-blocking mode: waits for the bytes.
function waitForInput(buffer, offset, length) {
  for (;;) {
    try {
      return fs.readSync(0, buffer, offset, length, null);
    } catch (error) {
      if (error.code !== 'EAGAIN') throw error;
      Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 5);
    }
  }
}
